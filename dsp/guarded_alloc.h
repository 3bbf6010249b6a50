#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/result.h"

namespace lumaro::dsp {

// Requests up to this size are served without looking at the memory status.
inline constexpr std::uint64_t kGuardThreshold = 0x100000;  // 1 MiB
// Physical memory a large request must leave available for the rest of the system.
inline constexpr std::uint64_t kGuardReserve = 0x8000000;  // 128 MiB

// Takes a block from the heap, not zeroed. A request above kGuardThreshold is refused unless
// request + kGuardReserve is at most the available physical memory (equality is allowed), or
// when the memory status cannot be read. Any thread. Failure answer: nullptr.
[[nodiscard]] void* GuardedAlloc(std::uint64_t bytes) noexcept;

// Gives back a block of GuardedAlloc (nullptr is allowed). The few most recent large blocks
// (32 MiB and more) are kept, already faulted in, for the next large requests they can hold (a
// request that maps new memory gives them back first);
// ReleaseFreeBlocks gives them to the system (the engine calls it once a track is prepared and
// after each playback), as does a request the memory guard would otherwise refuse.
void GuardedFree(void* block) noexcept;
void ReleaseFreeBlocks() noexcept;

// Makes a large block of GuardedAlloc at least `bytes` long without copying it: into the pages
// mapped behind it (the rest of the kept block it was served from; not zeroed: they may hold a
// freed block's bytes), else its pages move to the start of a new mapping. Answers the block's new
// address (the old one is gone), or nullptr with the block unchanged: a small block, a system that
// cannot move pages (Windows) where no room lies behind it, or the memory guard refusing `bytes` as
// a new request (which is not noted as a failure: the caller takes a new block instead). Any
// thread.
[[nodiscard]] void* GuardedGrow(void* block, std::uint64_t bytes) noexcept;

// Gives the memory of a large block of GuardedAlloc past its first `bytes` (at least one 2 MiB
// page stays) back to the system (the block keeps its address, and is freed as before, but is
// not kept once below 32 MiB); a small block is left as it is. Any thread.
void GuardedShrink(void* block, std::uint64_t bytes) noexcept;

// For a conversion that writes wider frames over its own narrower input in one (grown) block:
// calls `level(first, end)` for frame ranges from the last frame back to the first, each holding
// every frame whose output (from `gap` + outFrameBytes × first, counted from where the input
// starts) lies at or past all the input still to be read (inFrameBytes × end + readsPast bytes),
// so that a level may be converted all at once; what it writes over, the levels before it read.
// LevelsFromTheEndHold must be true of the sizes, so that every level holds a frame. Answers the
// first level's failure, or kOk.
template <class Level>
Result InLevelsFromTheEnd(std::uint64_t frames, std::uint64_t inFrameBytes, std::uint64_t readsPast,
                          std::uint64_t outFrameBytes, std::uint64_t gap, Level level) {
  for (std::uint64_t end = frames; end > 0;) {
    const std::uint64_t reach = inFrameBytes * end + readsPast;
    const std::uint64_t first =
        reach > gap ? (reach - gap + outFrameBytes - 1) / outFrameBytes : std::uint64_t{0};
    if (const Result converted = level(first, end); converted != kOk) return converted;
    end = first;
  }
  return kOk;
}

// True when every level InLevelsFromTheEnd makes of these sizes holds a frame: no output is
// narrower than its input, and the first frame's output starts at or past the bytes its
// conversion reads (gap ≥ inFrameBytes + readsPast).
constexpr bool LevelsFromTheEndHold(std::uint64_t inFrameBytes, std::uint64_t readsPast,
                                    std::uint64_t outFrameBytes, std::uint64_t gap) noexcept {
  return outFrameBytes >= inFrameBytes && gap >= inFrameBytes + readsPast;
}

// GuardedGrow for a conversion in levels from the end in the grown block: its input starts
// `inputStart` bytes into `block` and its output `outputStart` bytes in. Answers nullptr (the
// block unchanged) also where the output would start before the input, `bytes` is 0, or the
// sizes fail LevelsFromTheEndHold. Any thread.
[[nodiscard]] inline void* GrowForLevelsFromTheEnd(
    void* block, std::uint64_t bytes, std::uint64_t inputStart, std::uint64_t outputStart,
    std::uint64_t inFrameBytes, std::uint64_t readsPast, std::uint64_t outFrameBytes) noexcept {
  if (inputStart > outputStart || bytes == 0 ||
      !LevelsFromTheEndHold(inFrameBytes, readsPast, outFrameBytes, outputStart - inputStart)) {
    return nullptr;
  }
  return GuardedGrow(block, bytes);
}

// For a conversion that writes narrower frames over its own wider input in one block: calls
// `level(first, end)` for frame ranges from the first frame on, each holding every frame whose
// output (outFrameBytes × (f + 1) past where the outputs start) ends at or before the first input
// still to be read (`gap` + inFrameBytes × first past the same place), so that a level may be
// converted all at once; what it writes over, the levels before it read. LevelsFromTheFrontHold
// must be true of the sizes, so that every level holds a frame. Answers the first level's
// failure, or kOk.
template <class Level>
Result InLevelsFromTheFront(std::uint64_t frames, std::uint64_t inFrameBytes,
                            std::uint64_t outFrameBytes, std::uint64_t gap, Level level) {
  for (std::uint64_t first = 0; first < frames;) {
    const std::uint64_t reach = (gap + inFrameBytes * first) / outFrameBytes;
    const std::uint64_t end = reach < frames ? reach : frames;
    if (const Result converted = level(first, end); converted != kOk) return converted;
    first = end;
  }
  return kOk;
}

// True when every level InLevelsFromTheFront makes of these sizes holds a frame: no output is
// wider than its input, and the first frame's output fits in the gap.
constexpr bool LevelsFromTheFrontHold(std::uint64_t inFrameBytes, std::uint64_t outFrameBytes,
                                      std::uint64_t gap) noexcept {
  return inFrameBytes >= outFrameBytes && outFrameBytes > 0 && gap >= outFrameBytes;
}

// The bytes of the large blocks kept for reuse. Any thread.
[[nodiscard]] std::uint64_t KeptFreeBytes() noexcept;

// True when a request of `bytes` passes the memory guard (the check GuardedAlloc makes).
[[nodiscard]] bool MemoryGuardAllows(std::uint64_t bytes) noexcept;
// The same as an answer: kOk, or the guard's refusal, noted as GuardedAlloc notes it.
[[nodiscard]] Result MemoryGuardAnswer(std::uint64_t bytes) noexcept;

}  // namespace lumaro::dsp
