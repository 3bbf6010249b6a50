#include "platform/os.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/path.h"

namespace lumaro::platform {
namespace {

TEST(EventTest, AutoResetsAfterOneWait) {
  auto event = Event::Create();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
  event->Set();
  EXPECT_EQ(event->Wait(0), WaitResult::kSignalled);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
  event->Set();
  event->Reset();
  EXPECT_EQ(event->Wait(1), WaitResult::kTimeout);
}

TEST(EventTest, WakesAWaiterOnAnotherThread) {
  auto event = Event::Create();
  std::thread setter([&] { event->Set(); });
  EXPECT_EQ(event->Wait(10000), WaitResult::kSignalled);
  setter.join();
}

TEST(OsTest, ReportsTheMachine) {
  EXPECT_GE(ProcessorCount(), 1U);
  std::uint64_t available = 0;
  EXPECT_TRUE(AvailablePhysicalMemory(&available));
  EXPECT_GT(available, 0U);
  const std::u16string dir = ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(ExecutablePath().substr(0, dir.size()), dir);
  EXPECT_EQ(PathFindFileName(ExecutablePath()), u"lumaro_platform_tests");
}

TEST(ThreadStarterTest, RunsAndJoins) {
  int ran = 0;
  auto thread = SystemThreads().Start([&] { ran = 1; });
  ASSERT_NE(thread, nullptr);
  thread->Join();
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace lumaro::platform
