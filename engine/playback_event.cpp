#include "engine/playback_event.h"

#include <atomic>

namespace lumaro::engine {
namespace {
std::atomic<platform::Event*> playbackEvent{nullptr};
}

platform::Event* PlaybackEvent() noexcept { return playbackEvent.load(std::memory_order_acquire); }

PlaybackEventScope::PlaybackEventScope(platform::Event* event) noexcept {
  playbackEvent.store(event, std::memory_order_release);
}

PlaybackEventScope::~PlaybackEventScope() {
  playbackEvent.store(nullptr, std::memory_order_release);
}

}  // namespace lumaro::engine
