#pragma once

#include "platform/clock.h"
#include "platform/endpoint_api.h"
#include "platform/os.h"

namespace lumaro::platform {

// The backends the entry point chooses for this process, reached through the AppContext. Tests
// build one with simulated parts. The driver registry joins this record with the driver family.
struct Services {
  ThreadStarter* threads = &SystemThreads();
  // Time for the feeding loop's waits.
  Clock* clock = &SystemClock();
  // The endpoint family; nullptr when the process has none (instance creation then fails).
  endpoint::EndpointSystem* endpoints = nullptr;
};

}  // namespace lumaro::platform
