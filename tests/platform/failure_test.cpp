// The failure chain a thread records, how it is shown, and the report kept for another thread.
#include "platform/failure.h"

#include <gtest/gtest.h>

namespace lumaro::platform {
namespace {

// Two codes of the block kept for test doubles; a names table that did not match its codes
// would not compile.
constexpr Result kInner = FirstCode(FailureSite::kTests);
constexpr FailureNames kNames{FailureSite::kTests, kInner + 1, {"inner", "outer"}};
static_assert(kNames.Owns(kInner + 1) && !kNames.Owns(kInner + 2) &&
              kNames.Name(kInner) == "inner");

TEST(FailureChainTest, KeepsTheFailuresOfTheRecordingThreadThatWereNotRecoveredOrStopped) {
  (void)kNames.Note(kInner);  // no recording on this thread yet: dropped
  EXPECT_TRUE(TakeFailureChain().empty());
  Word stop{0};
  const FailureRecording recording(&stop);
  (void)kNames.Note(kInner, u"/music/a.wav");
  const std::size_t mark = FailureChainMark();
  (void)kNames.Note(kInner + 1, "recovered");
  RewindFailureChain(mark);
  EXPECT_EQ(kNames.Note(kOk), kOk);
  EXPECT_EQ(kNames.Note(0x1234), 0x1234u);  // a callee's code: the callee noted it
  stop = 1;
  (void)kNames.Note(kInner + 1, "during a stop");
  stop = 0;
  (void)kNames.Note(kInner + 1, "/music/a.wav");
  EXPECT_EQ(FormatFailureChain(TakeFailureChain()), "outer [0xf002] /music/a.wav: inner [0xf001]");
  EXPECT_TRUE(TakeFailureChain().empty());
}

TEST(FailureChainTest, SizesReadAsDecimalUnits) {
  const std::pair<std::uint64_t, const char*> cases[] = {{0, "0 bytes"},
                                                         {999999, "999999 bytes"},
                                                         {1000000, "1.0 MB"},
                                                         {999949999, "999.9 MB"},
                                                         {6800000000, "6.8 GB"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatBytes(bytes), text) << bytes;
}

TEST(FailureReportTest, KeepsTheLastResultAndTheLatestFailedChains) {
  FailureReport report;
  EXPECT_EQ(report.LastResult(), kOk);
  for (Result r = 1; r <= FailureReport::kMaxKept + 2; ++r) {
    report.Add(r, {FailureNote{r, "site", ""}});
  }
  report.Add(kOk, {});
  EXPECT_EQ(report.LastResult(), kOk);
  const auto failed = report.TakeFailed();
  ASSERT_EQ(failed.size(), FailureReport::kMaxKept);
  EXPECT_EQ(failed.front().result, 3u);
  EXPECT_EQ(failed.back().chain.at(0).code, FailureReport::kMaxKept + 2);
  EXPECT_TRUE(report.TakeFailed().empty());
}

}  // namespace
}  // namespace lumaro::platform
