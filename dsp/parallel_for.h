#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "dsp/worker_count.h"
#include "platform/os.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// A contiguous run of frames given to one worker.
struct Slice {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
};

// The slices of one pass: `count` workers, slice i at [i × q, i × q + q) with q = frames / count,
// the remainder added to the last slice.
struct SlicePlan {
  unsigned count = 0;
  std::array<Slice, kMaxWorkerSlots> slices{};
};

// Splits `frames` (> 0) over min(frames, workers) workers.
SlicePlan PlanSlices(std::uint64_t frames, unsigned workers);

// The work of one worker: its index in the plan and its slice. It polls the stop request itself
// and returns early when it is set.
using WorkerBody = std::function<void(unsigned worker, Slice slice)>;

enum : Result {
  kErrNoFrames = FirstCode(FailureSite::kParallelFor),  // a pass over zero frames
  kErrThreadStart,                                      // a worker thread could not be started
  kErrStopped,  // the stop request was set when the workers had joined
};

// Runs one pass of a stage: one thread per slice of PlanSlices(frames, WorkerCount()), all
// joined before it returns, on the calling thread's behalf. If a thread cannot be started, no
// more are started, those already running are joined, and kErrThreadStart is answered (their
// partial work stays). Otherwise kErrStopped when the stop request is set after the join, else
// kOk; the caller then combines the workers' results in worker order.
[[nodiscard]] Result ParallelFor(std::uint64_t frames, const platform::StopWord& stop,
                                 const WorkerBody& body,
                                 platform::ThreadStarter& threads = platform::SystemThreads());

// The same with a worker count read once by the caller (a stage that sizes a buffer per worker
// plans with the count it sized for): slices of PlanSlices(frames, workers).
[[nodiscard]] Result ParallelForOn(std::uint64_t frames, unsigned workers,
                                   const platform::StopWord& stop, const WorkerBody& body,
                                   platform::ThreadStarter& threads = platform::SystemThreads());

// The frames of a conversion in levels (InLevelsFromTheFront, InLevelsFromTheEnd) for which one
// more worker of a level is started: its first levels hold a few dozen frames, a thread's start
// costs about as much as converting this many.
inline constexpr std::uint64_t kLevelFramesPerWorker = 4096;

// The workers of a level of `frames` frames: WorkerCount(), but no more than whole
// kLevelFramesPerWorker runs in it (at least one). Any thread.
[[nodiscard]] unsigned LevelWorkers(std::uint64_t frames);

// Frames a worker processes between two looks at the stop request; small enough that a stop is
// noticed within microseconds, large enough for the inner loop to vectorise.
inline constexpr std::uint64_t kStopPollFrames = 256;

}  // namespace lumaro::dsp
