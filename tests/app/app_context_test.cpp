#include "context/app_context.h"

#include <gtest/gtest.h>

#include <thread>

#include "context/playback_gate.h"
#include "context/stop_playback.h"

namespace lumaro::app {
namespace {

TEST(AppContextTest, StartsWithTheDocumentedDefaults) {
  context::AppContext a;
  EXPECT_EQ(a.PeakTarget, 100U);
  EXPECT_EQ(a.CompThreshold, 80U);
  EXPECT_EQ(a.CompUpward, 50U);
  EXPECT_EQ(a.CompMaxAmplification, 800U);
  EXPECT_EQ(a.CompCellSize, 2000U);
  EXPECT_EQ(a.CompLoudnessType, 1U);
  EXPECT_EQ(a.CompPeakNormalization, 1U);
  EXPECT_EQ(a.LoudnessTarget, 126U);
  EXPECT_EQ(a.LoudnessTargetMin, 1U);
  EXPECT_EQ(a.LoudnessTargetMax, 800U);
  EXPECT_EQ(a.ScanAddPath, 1U);
  EXPECT_EQ(a.PlayCommand, context::kCommandNone);
  EXPECT_EQ(a.MainWindow.Load(), nullptr);
  EXPECT_EQ(a.DefaultExtensions.substr(0, 12), u"aac aif aiff");
}

TEST(SeekRequestTest, FlagAndTargetTravelTogether) {
  context::SeekRequest seek;
  std::int32_t target = -1;
  EXPECT_FALSE(seek.Take(&target));
  seek.Request(0);  // "restart the track": one store of flag 1 and target 0
  seek.SetTarget(0);
  EXPECT_EQ(seek.SeekFlag(), 1U);
  ASSERT_TRUE(seek.Take(&target));
  EXPECT_EQ(target, 0);
  EXPECT_EQ(seek.SeekFlag(), 0U);
  seek.Request(-5);
  EXPECT_EQ(seek.SeekTarget(), -5);
  ASSERT_TRUE(seek.Take(&target));
  EXPECT_EQ(target, -5);
  EXPECT_FALSE(seek.Take(&target));
}

TEST(PlaybackGateTest, OneHolderAtATime) {
  ASSERT_TRUE(context::PlaybackGateFree());
  ASSERT_TRUE(context::TryTakePlaybackGate());
  EXPECT_FALSE(context::TryTakePlaybackGate());
  EXPECT_FALSE(context::PlaybackGateFree());
  context::ReleasePlaybackGate();
  EXPECT_TRUE(context::PlaybackGateFree());
}

TEST(StopPlaybackTest, RaisesStopUntilTheHolderLeaves) {
  context::AppContext a;
  ASSERT_TRUE(context::TryTakePlaybackGate());
  std::thread holder([&] {
    while (a.PlayCommand.Load() != context::kCommandStop) std::this_thread::yield();
    context::ReleasePlaybackGate();
  });
  context::StopPlayback(a);
  EXPECT_TRUE(context::PlaybackGateFree());
  holder.join();
}

}  // namespace
}  // namespace lumaro::app
