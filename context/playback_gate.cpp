#include "context/playback_gate.h"

#include <atomic>
#include <cstdint>

namespace lumaro::context {
namespace {
// Acquire on taking and release on giving back, so a new playback sees every write of the old.
std::atomic<std::int32_t> playbackGate{1};
}  // namespace

bool TryTakePlaybackGate() noexcept {
  if (playbackGate.fetch_sub(1, std::memory_order_acq_rel) == 1) return true;
  playbackGate.fetch_add(1, std::memory_order_acq_rel);
  return false;
}

void ReleasePlaybackGate() noexcept { playbackGate.fetch_add(1, std::memory_order_acq_rel); }

bool PlaybackGateFree() noexcept {
  const bool free = TryTakePlaybackGate();
  if (free) ReleasePlaybackGate();
  return free;
}

}  // namespace lumaro::context
