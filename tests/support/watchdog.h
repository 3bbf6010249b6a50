#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace lumaro::testing {

// Aborts the test program when the test that made it outlives `limit`: a device that stops
// answering would otherwise hang a blocking call, and CI with it. Make it a fixture member.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::milliseconds limit)
      : test_(::testing::UnitTest::GetInstance()->current_test_info() != nullptr
                  ? ::testing::UnitTest::GetInstance()->current_test_info()->name()
                  : "a test"),
        thread_([this, limit] {
          std::unique_lock lock(mutex_);
          if (ended_.wait_for(lock, limit, [this] { return done_; })) return;
          std::fprintf(stderr, "%s is still running after %lld ms: aborted\n", test_.c_str(),
                       static_cast<long long>(limit.count()));
          std::abort();
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    ended_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  const std::string test_;
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread thread_;  // last: it starts once the rest is ready
};

}  // namespace lumaro::testing
