#pragma once

#include <cstdint>

#include "platform/os.h"

namespace lumaro::decode {

// The most one read or write call of the shared loops asks for.
inline constexpr std::uint64_t kMaxTransferBytes = 1ULL << 30;  // 1 GiB

// Reads `bytes` into `destination` in calls of at most kMaxTransferBytes until the count is
// reached, a call fails, or a call answers fewer bytes than asked; answers the bytes obtained
// (so a short answer means the end of the data or a failure). 0 bytes reads nothing.
std::uint64_t ReadFully(platform::File& file, void* destination, std::uint64_t bytes) noexcept;

// True when the file holds at least `bytes` more from its current position. A reader asks it
// before it takes the buffer a header's claim sizes, so that a claim the file cannot back costs
// no memory (the read would come up short anyway). False when the size or position is unknown.
bool FileHolds(const platform::File& file, std::uint64_t bytes) noexcept;

// Writes `bytes` from `source` likewise; answers the bytes written.
std::uint64_t WriteFully(platform::File& file, const void* source, std::uint64_t bytes) noexcept;

}  // namespace lumaro::decode
