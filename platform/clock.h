#pragma once

#include <cstdint>

#include "platform/os.h"

namespace lumaro::platform {

// Time for the devices and the feeding loop. The system clock waits for real; a test clock
// can make waits and sleeps instant and deterministic. Any thread.
class Clock {
 public:
  virtual ~Clock() = default;
  // Microseconds since an arbitrary start.
  virtual std::uint64_t NowMicroseconds() = 0;
  // Returns at or after `deadline` (NowMicroseconds scale).
  virtual void SleepUntilMicroseconds(std::uint64_t deadline) = 0;
  // Waits for the auto-reset event at most `milliseconds`.
  virtual WaitResult Wait(Event& event, std::uint32_t milliseconds) = 0;
};

// The steady clock of the system.
Clock& SystemClock();

}  // namespace lumaro::platform
