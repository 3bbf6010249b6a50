#include "engine/playback_event.h"

#include <atomic>

namespace lumaro::engine {
namespace {
std::atomic<platform::Event*> playbackEvent{nullptr};
std::atomic<std::uint32_t> asioHalf{0};
platform::driver::TimeInfo asioTimeInfo;
}  // namespace

platform::Event* PlaybackEvent() noexcept { return playbackEvent.load(std::memory_order_acquire); }

PlaybackEventScope::PlaybackEventScope(platform::Event* event) noexcept {
  playbackEvent.store(event, std::memory_order_release);
}

PlaybackEventScope::~PlaybackEventScope() {
  playbackEvent.store(nullptr, std::memory_order_release);
}

std::atomic<std::uint32_t>& AsioHalf() noexcept { return asioHalf; }

platform::driver::TimeInfo& AsioTimeInfo() noexcept { return asioTimeInfo; }

}  // namespace lumaro::engine
