#pragma once

#include <cstddef>
#include <cstdint>

namespace lumaro::dsp {

// Requests up to this size are served without looking at the memory status.
inline constexpr std::uint64_t kGuardThreshold = 0x100000;  // 1 MiB
// Physical memory a large request must leave available for the rest of the system.
inline constexpr std::uint64_t kGuardReserve = 0x8000000;  // 128 MiB

// Takes a block from the heap, not zeroed. A request above kGuardThreshold is refused unless
// request + kGuardReserve is at most the available physical memory (equality is allowed), or
// when the memory status cannot be read. Any thread. Failure answer: nullptr.
[[nodiscard]] void* GuardedAlloc(std::uint64_t bytes) noexcept;

// Gives back a block of GuardedAlloc (nullptr is allowed).
void GuardedFree(void* block) noexcept;

// True when a request of `bytes` passes the memory guard (the check GuardedAlloc makes).
[[nodiscard]] bool MemoryGuardAllows(std::uint64_t bytes) noexcept;

}  // namespace lumaro::dsp
