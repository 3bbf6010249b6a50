#include "dsp/parallel_for.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using ::testing::ElementsAre;

TEST(WorkerCountTest, LeavesOneProcessorAndCapsAt63) {
  const std::pair<unsigned, unsigned> cases[] = {{0, 1}, {1, 1},   {2, 1},   {3, 2},
                                                 {8, 7}, {64, 63}, {65, 63}, {128, 63}};
  for (const auto& [processors, workers] : cases) {
    EXPECT_EQ(WorkerCountFor(processors), workers) << processors;
  }
}

TEST(WorkerCountTest, OverrideIsClampedAndRemovable) {
  {
    lumaro::testing::ScopedWorkerCount many(200);
    EXPECT_EQ(WorkerCount(), kMaxWorkers);
    SetWorkerCountOverride(3);
    EXPECT_EQ(WorkerCount(), 3U);
  }
  EXPECT_EQ(WorkerCount(), WorkerCountFor(platform::ProcessorCount()));
}

std::vector<std::uint64_t> Counts(const SlicePlan& plan) {
  std::vector<std::uint64_t> counts;
  std::uint64_t next = 0;
  for (unsigned i = 0; i < plan.count; ++i) {
    EXPECT_EQ(plan.slices[i].first, next) << "slices must be contiguous";
    next += plan.slices[i].count;
    counts.push_back(plan.slices[i].count);
  }
  return counts;
}

TEST(PlanSlicesTest, Table) {
  // 5 frames on an 8-processor machine (7 workers): 5 workers of one frame.
  EXPECT_THAT(Counts(PlanSlices(5, WorkerCountFor(8))), ElementsAre(1, 1, 1, 1, 1));
  // 10 frames with 7 workers: slices of 1, the last takes the remainder.
  EXPECT_THAT(Counts(PlanSlices(10, 7)), ElementsAre(1, 1, 1, 1, 1, 1, 4));
  // One processor: one worker for everything.
  EXPECT_THAT(Counts(PlanSlices(1000, WorkerCountFor(1))), ElementsAre(1000));
  // 128 processors: 63 workers of 15 frames, the last 15 + 55.
  const SlicePlan wide = PlanSlices(1000, WorkerCountFor(128));
  EXPECT_EQ(wide.count, 63U);
  EXPECT_EQ(wide.slices[0].count, 15U);
  EXPECT_EQ(wide.slices[62].first, 62U * 15U);
  EXPECT_EQ(wide.slices[62].count, 1000U - 62U * 15U);
  EXPECT_EQ(PlanSlices(0, 4).count, 0U);
}

using lumaro::testing::FailingStarter;

TEST(ParallelForTest, RunsEverySliceOnceAndCombinesInOrder) {
  lumaro::testing::ScopedWorkerCount workers(7);
  platform::StopWord stop;
  std::array<std::uint64_t, kMaxWorkerSlots> firsts{};
  std::atomic<std::uint64_t> frames{0};
  ASSERT_EQ(ParallelFor(10, stop,
                        [&](unsigned worker, Slice slice) {
                          firsts[worker] = slice.first;
                          frames += slice.count;
                        }),
            kOk);
  EXPECT_EQ(frames.load(), 10U);
  EXPECT_THAT(std::vector<std::uint64_t>(firsts.begin(), firsts.begin() + 7),
              ElementsAre(0, 1, 2, 3, 4, 5, 6));
}

TEST(ParallelForTest, FailedThirdStartStillJoinsTheFirstTwo) {
  lumaro::testing::ScopedWorkerCount workers(8);
  platform::StopWord stop;
  FailingStarter starter(/*failAt=*/2);
  std::atomic<int> finished{0};
  const Result result = ParallelFor(
      800, stop,
      [&](unsigned, Slice) {
        platform::SleepMilliseconds(20);  // still running when the third start fails
        finished.fetch_add(1);
      },
      starter);
  EXPECT_NE(result, kOk);
  EXPECT_EQ(starter.starts, 3);   // no start after the failure
  EXPECT_EQ(finished.load(), 2);  // both started workers ran to the end before the answer
}

TEST(ParallelForTest, AStopRequestFailsThePassAndZeroFramesAreRefused) {
  platform::StopWord stop{1};
  bool ran = false;
  EXPECT_NE(ParallelFor(4, stop, [&](unsigned, Slice) { ran = true; }), kOk);
  EXPECT_TRUE(ran);  // workers start; they poll the request themselves
  platform::StopWord go;
  EXPECT_NE(ParallelFor(0, go, [](unsigned, Slice) {}), kOk);
}

}  // namespace
}  // namespace lumaro::dsp
