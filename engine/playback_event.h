#pragma once

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

}  // namespace lumaro::engine
