#pragma once

#include <memory>

#include "platform/driver_api.h"

namespace lumaro::platform::win32 {

// The driver family on Windows: the drivers registered under HKEY_LOCAL_MACHINE "software\asio"
// and their in-process component objects, reached through the drivers' binary interface. The
// answers of the registry and of the drivers are handed on as they are. CreateInstance needs
// the calling thread in a component apartment (InitializeApartment). The callbacks a driver is
// given are process-wide: one driver at a time has buffers. Thread contract: the family's.
std::unique_ptr<driver::DriverRegistry> OpenAsioDrivers();

}  // namespace lumaro::platform::win32
