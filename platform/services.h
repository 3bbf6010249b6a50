#pragma once

#include "platform/os.h"

namespace lumaro::platform {

// The backends the entry point chooses for this process, reached through the AppContext. Tests
// build one with simulated parts. The device backends (endpoint enumerator, driver registry)
// and the clock of the file output join this record with the device code.
struct Services {
  ThreadStarter* threads = &SystemThreads();
};

}  // namespace lumaro::platform
