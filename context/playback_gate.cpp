#include "context/playback_gate.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lumaro::context {
namespace {
// Acquire on taking and release on giving back, so a new playback sees every write of the old.
std::atomic<std::int32_t> playbackGate{1};

// Wakes the threads that wait for the gate to be given back. Made once and never destroyed, so
// a detached playback or stop thread can still use it while the process ends.
struct GateSignal {
  std::mutex mutex;
  std::condition_variable released;
};
GateSignal& Signal() {
  static GateSignal* signal = new GateSignal;
  return *signal;
}
}  // namespace

bool TryTakePlaybackGate() noexcept {
  if (playbackGate.fetch_sub(1, std::memory_order_acq_rel) == 1) return true;
  playbackGate.fetch_add(1, std::memory_order_acq_rel);
  return false;
}

void ReleasePlaybackGate() noexcept {
  playbackGate.fetch_add(1, std::memory_order_acq_rel);
  GateSignal& signal = Signal();
  std::lock_guard<std::mutex> lock(signal.mutex);
  signal.released.notify_all();
}

bool PlaybackGateFree() noexcept {
  const bool free = TryTakePlaybackGate();
  if (free) ReleasePlaybackGate();
  return free;
}

bool WaitForPlaybackGate(std::uint32_t milliseconds) noexcept {
  GateSignal& signal = Signal();
  std::unique_lock<std::mutex> lock(signal.mutex);
  return signal.released.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [] { return playbackGate.load(std::memory_order_acquire) == 1; });
}

}  // namespace lumaro::context
