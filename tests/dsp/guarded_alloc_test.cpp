#include "dsp/guarded_alloc.h"

#include <gtest/gtest.h>

#include "tests/support/fake_memory_status.h"

namespace lumaro::dsp {
namespace {

using testing::FakeMemoryStatus;

TEST(GuardedAllocTest, OnlyRequestsAboveOneMebibyteAskForTheMemoryStatus) {
  FakeMemoryStatus nothingFree(0);
  void* atThreshold = GuardedAlloc(kGuardThreshold);
  EXPECT_NE(atThreshold, nullptr);
  EXPECT_EQ(nothingFree.Reads(), 0);
  GuardedFree(atThreshold);

  EXPECT_EQ(GuardedAlloc(kGuardThreshold + 1), nullptr);
  EXPECT_EQ(nothingFree.Reads(), 1);
}

TEST(GuardedAllocTest, KeepsTheReserveFreeWithEqualityAllowed) {
  const std::uint64_t request = kGuardThreshold + 1;
  {
    FakeMemoryStatus exact(request + kGuardReserve);
    void* block = GuardedAlloc(request);
    EXPECT_NE(block, nullptr);
    GuardedFree(block);
  }
  {
    FakeMemoryStatus oneShort(request + kGuardReserve - 1);
    EXPECT_EQ(GuardedAlloc(request), nullptr);
  }
  {
    FakeMemoryStatus unknown(UINT64_MAX, /*answers=*/false);
    EXPECT_EQ(GuardedAlloc(request), nullptr);
  }
  {
    FakeMemoryStatus plenty(UINT64_MAX);
    EXPECT_EQ(GuardedAlloc(UINT64_MAX - 1), nullptr);  // request + reserve would wrap
  }
}

}  // namespace
}  // namespace lumaro::dsp
