#include "dsp/parallel_for.h"

#include <algorithm>
#include <memory>

#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

constexpr platform::FailureNames kFailures{
    FailureSite::kParallelFor,
    kErrStopped,
    {"parallel pass over no frames", "worker thread start failed", "parallel pass stopped"}};

}  // namespace

SlicePlan PlanSlices(std::uint64_t frames, unsigned workers) {
  SlicePlan plan;
  if (frames == 0 || workers == 0) return plan;
  const std::uint64_t n = std::min<std::uint64_t>({frames, workers, kMaxWorkerSlots});
  const std::uint64_t q = frames / n;
  plan.count = static_cast<unsigned>(n);
  for (unsigned i = 0; i < plan.count; ++i) {
    plan.slices[i] = Slice{i * q, q};
  }
  plan.slices[plan.count - 1].count = frames - (n - 1) * q;
  return plan;
}

Result ParallelFor(std::uint64_t frames, const platform::StopWord& stop, const WorkerBody& body,
                   platform::ThreadStarter& threads) {
  return ParallelForOn(frames, WorkerCount(), stop, body, threads);
}

unsigned LevelWorkers(std::uint64_t frames) {
  const std::uint64_t runs = std::max<std::uint64_t>(1, frames / kLevelFramesPerWorker);
  return static_cast<unsigned>(std::min<std::uint64_t>(WorkerCount(), runs));
}

Result ParallelForOn(std::uint64_t frames, unsigned workers, const platform::StopWord& stop,
                     const WorkerBody& body, platform::ThreadStarter& threads) {
  if (frames == 0) return kFailures.Note(kErrNoFrames);
  const SlicePlan plan = PlanSlices(frames, workers);
  std::array<std::unique_ptr<platform::Thread>, kMaxWorkerSlots> handles;
  unsigned started = 0;
  bool startFailed = false;
  for (unsigned i = 0; i < plan.count; ++i) {
    handles[i] = threads.Start([&body, i, slice = plan.slices[i]] { body(i, slice); });
    if (!handles[i]) {
      startFailed = true;
      break;
    }
    ++started;
  }
  for (unsigned i = started; i > 0; --i) {
    handles[i - 1]->Join();
  }
  if (startFailed) return kFailures.Note(kErrThreadStart);
  if (stop.Load() != 0) return kFailures.Note(kErrStopped);
  return kOk;
}

}  // namespace lumaro::dsp
