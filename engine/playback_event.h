#pragma once

#include <atomic>
#include <cstdint>

#include "platform/driver_api.h"
#include "platform/os.h"

namespace lumaro::engine {

// The process-wide auto-reset event of the running track's device, which the device (or a driver
// callback, which receives no context) signals once per period. Set only while step 23 runs;
// nullptr otherwise. Any thread may read it.
platform::Event* PlaybackEvent() noexcept;

// Publishes `event` as the PlaybackEvent for the life of this scope.
class PlaybackEventScope {
 public:
  explicit PlaybackEventScope(platform::Event* event) noexcept;
  ~PlaybackEventScope();
  PlaybackEventScope(const PlaybackEventScope&) = delete;
  PlaybackEventScope& operator=(const PlaybackEventScope&) = delete;
};

// The half of a driver's double buffer the playback thread fills next (0 or 1). A driver's
// bufferSwitch stores it before it signals the PlaybackEvent; the playback thread loads it once
// its wait has returned, so the store and the signal order it.
std::atomic<std::uint32_t>& AsioHalf() noexcept;

// The timing record a driver's bufferSwitchTimeInfo is answered with: zeroed at every call.
// Written only by the driver thread that calls back.
platform::driver::TimeInfo& AsioTimeInfo() noexcept;

}  // namespace lumaro::engine
