#pragma once

#include "platform/clock.h"
#include "platform/driver_api.h"
#include "platform/endpoint_api.h"
#include "platform/os.h"

namespace lumaro::platform {

// The driver probe's times: how long the caller waits for the probe's thread, and how long the
// thread of a failed probe sleeps before it ends (longer than the wait, so that the caller sees
// a failure as a timeout). Tests shorten them.
struct DriverProbeTimes {
  static constexpr std::uint32_t kWaitMs = 1000;
  static constexpr std::uint32_t kFailedSleepMs = 3000;
  std::uint32_t waitMs = kWaitMs;
  std::uint32_t failedSleepMs = kFailedSleepMs;
  // When set, counts the probe threads still running, so a test can outlive them; it must live
  // as long as any probe thread.
  ThreadCount* running = nullptr;
};

// The backends the entry point chooses for this process, reached through the AppContext. Tests
// build one with simulated parts.
struct Services {
  ThreadStarter* threads = &SystemThreads();
  // Time for the feeding loop's waits.
  Clock* clock = &SystemClock();
  // The endpoint family; nullptr when the process has none (instance creation then fails).
  endpoint::EndpointSystem* endpoints = nullptr;
  // The driver family; nullptr when the process has no drivers (the drivers' key is missing).
  driver::DriverRegistry* drivers = nullptr;
  DriverProbeTimes driverProbe;
};

}  // namespace lumaro::platform
