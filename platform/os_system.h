#pragma once

#include <cstdint>

// What each system's layer supplies to the portable part of os.h (os_common.cpp).
namespace lumaro::platform {

// The physical memory the system could give the process now. Failure answer: false.
bool SystemMemoryStatus(std::uint64_t* availableBytes);

}  // namespace lumaro::platform
