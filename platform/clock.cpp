#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace lumaro::platform {
namespace {

class SteadyClock final : public Clock {
 public:
  std::uint64_t NowMicroseconds() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  void SleepUntilMicroseconds(std::uint64_t deadline) override {
    const std::uint64_t now = NowMicroseconds();
    if (deadline > now) std::this_thread::sleep_for(std::chrono::microseconds(deadline - now));
  }
  WaitResult Wait(Event& event, std::uint32_t milliseconds) override {
    return event.Wait(milliseconds);
  }
};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace lumaro::platform
