#include "app/app_context.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/playback_gate.h"
#include "app/stop_playback.h"

namespace lumaro::app {
namespace {

TEST(AppContextTest, StartsWithTheDocumentedDefaults) {
  AppContext a;
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
  EXPECT_EQ(a.PlayCommand, kCommandNone);
  EXPECT_EQ(a.MainWindow.Load(), nullptr);
  EXPECT_EQ(a.DefaultExtensions.substr(0, 12), u"aac aif aiff");
}

TEST(SeekRequestTest, FlagAndTargetTravelTogether) {
  SeekRequest seek;
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
  ASSERT_TRUE(PlaybackGateFree());
  ASSERT_TRUE(TryTakePlaybackGate());
  EXPECT_FALSE(TryTakePlaybackGate());
  EXPECT_FALSE(PlaybackGateFree());
  ReleasePlaybackGate();
  EXPECT_TRUE(PlaybackGateFree());
}

TEST(StopPlaybackTest, RaisesStopUntilTheHolderLeaves) {
  AppContext a;
  ASSERT_TRUE(TryTakePlaybackGate());
  std::thread holder([&] {
    while (a.PlayCommand.Load() != kCommandStop) std::this_thread::yield();
    ReleasePlaybackGate();
  });
  StopPlayback(a);
  EXPECT_TRUE(PlaybackGateFree());
  holder.join();
}

}  // namespace
}  // namespace lumaro::app
