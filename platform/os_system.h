#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// What each system's layer supplies to the portable part of os.h (os_common.cpp).
namespace lumaro::platform {

// The physical memory the system could give the process now. Failure answer: false.
bool SystemMemoryStatus(std::uint64_t* availableBytes);

// What tells one existing file from every other: its device (volume) and its number on it.
// Failure answer: false (the path names nothing, or nothing that can be examined).
using FileIdentity = std::array<std::uint64_t, 2>;
bool IdentifyFile(std::u16string_view path, FileIdentity* identity);

}  // namespace lumaro::platform
