#include "context/app_context.h"

#include <gtest/gtest.h>

#include "context/playback_gate.h"
#include "context/stop_playback.h"
#include "tests/app/shell_fixture.h"

namespace lumaro::app {
namespace {

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
  context::AppContext app;
  testing::HeldGate gate(app);
  context::StopPlayback(app);
  EXPECT_TRUE(context::PlaybackGateFree());
  EXPECT_TRUE(gate.StopAsked());
}

}  // namespace
}  // namespace lumaro::app
