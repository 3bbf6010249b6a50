#include "dsp/worker_count.h"

#include <algorithm>
#include <atomic>

#include "platform/os.h"

namespace lumaro::dsp {
namespace {
std::atomic<unsigned> workerOverride{0};
}

unsigned WorkerCount() {
  const unsigned forced = workerOverride.load(std::memory_order_relaxed);
  return forced != 0 ? forced : WorkerCountFor(platform::ProcessorCount());
}

void SetWorkerCountOverride(unsigned workers) {
  workerOverride.store(workers == 0 ? 0 : std::clamp(workers, 1U, kMaxWorkers),
                       std::memory_order_relaxed);
}

}  // namespace lumaro::dsp
