#include "dsp/guarded_alloc.h"

#include <gtest/gtest.h>

#include <tuple>

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
  // Bytes free, whether the status answers, the request, whether it is granted.
  const std::tuple<std::uint64_t, bool, std::uint64_t, bool> cases[] = {
      {request + kGuardReserve, true, request, true},
      {request + kGuardReserve - 1, true, request, false},
      {UINT64_MAX, false, request, false},        // the status is unknown
      {UINT64_MAX, true, UINT64_MAX - 1, false},  // request + reserve would wrap
  };
  for (const auto& [free, answers, size, granted] : cases) {
    FakeMemoryStatus status(free, answers);
    void* block = GuardedAlloc(size);
    EXPECT_EQ(block != nullptr, granted) << free << " " << size;
    GuardedFree(block);
  }
}

}  // namespace
}  // namespace lumaro::dsp
