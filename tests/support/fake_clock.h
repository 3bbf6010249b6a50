#pragma once

#include <atomic>

#include "platform/clock.h"

namespace lumaro::testing {

// A clock whose time moves only when something sleeps or waits: sleeps return at once, and a
// wait on an event that is not set times out at once (its time is added), so a feeding loop
// against simulated devices runs deterministically and a 2-second timeout costs nothing.
class FakeClock final : public platform::Clock {
 public:
  std::uint64_t NowMicroseconds() override { return now_.load(); }
  void SleepUntilMicroseconds(std::uint64_t deadline) override {
    if (deadline > now_.load()) now_ = deadline;
  }
  platform::WaitResult Wait(platform::Event& event, std::uint32_t milliseconds) override {
    if (event.Wait(0) == platform::WaitResult::kSignalled) return platform::WaitResult::kSignalled;
    now_ += static_cast<std::uint64_t>(milliseconds) * 1000;
    ++timeouts_;
    return platform::WaitResult::kTimeout;
  }
  int Timeouts() const { return timeouts_.load(); }

 private:
  std::atomic<std::uint64_t> now_{0};
  std::atomic<int> timeouts_{0};
};

}  // namespace lumaro::testing
