#pragma once

namespace lumaro::dsp {

// The largest number of workers a stage runs; a stage keeps one slot per possible worker.
inline constexpr unsigned kMaxWorkerSlots = 64;
inline constexpr unsigned kMaxWorkers = 63;

// Workers for a machine of `processors`: one processor is left for the rest of the system,
// never fewer than 1 nor more than 63.
constexpr unsigned WorkerCountFor(unsigned processors) {
  if (processors < 2) return 1;
  if (processors > kMaxWorkerSlots) return kMaxWorkers;
  return processors - 1;
}

// Workers a stage may use on this machine, or the override when one is set. Any thread.
unsigned WorkerCount();

// Sets the number of workers every stage uses from now on (clamped to 1 … 63); 0 returns to the
// machine's count. For tools and tests.
void SetWorkerCountOverride(unsigned workers);

}  // namespace lumaro::dsp
