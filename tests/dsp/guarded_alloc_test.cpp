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
  struct Case {
    std::uint64_t free;
    bool answers;
    std::uint64_t request;
    bool granted;
  } const cases[] = {
      {request + kGuardReserve, true, request, true},
      {request + kGuardReserve - 1, true, request, false},
      {UINT64_MAX, false, request, false},        // the status is unknown
      {UINT64_MAX, true, UINT64_MAX - 1, false},  // request + reserve would wrap
  };
  for (const Case& c : cases) {
    FakeMemoryStatus status(c.free, c.answers);
    void* block = GuardedAlloc(c.request);
    EXPECT_EQ(block != nullptr, c.granted) << (&c - cases);
    GuardedFree(block);
  }
}

}  // namespace
}  // namespace lumaro::dsp
