#include "output/driver_callbacks.h"

#include <gtest/gtest.h>

#include "engine/playback_event.h"

namespace lumaro::output {
namespace {

namespace drv = platform::driver;

TEST(DriverCallbacksTest, MessagesAnswerOnlyTheEngineVersionResetAndLatencies) {
  struct Case {
    std::int32_t selector;
    std::int32_t value;
    std::int32_t answer;
  };
  constexpr Case kCases[] = {
      {drv::kAsioSelectorSupported, drv::kAsioEngineVersion, 1},
      {drv::kAsioSelectorSupported, drv::kAsioResetRequest, 0},
      {drv::kAsioSelectorSupported, drv::kAsioSupportsTimeInfo, 0},
      {drv::kAsioEngineVersion, 0, 2},
      {drv::kAsioResetRequest, 0, 1},
      {drv::kAsioLatenciesChanged, 0, 1},
      {drv::kAsioBufferSizeChange, 0, 0},
      {drv::kAsioResyncRequest, 0, 0},
      {drv::kAsioSupportsTimeInfo, 0, 0},
      {99, 0, 0},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(DriverCallbacks().asioMessage(c.selector, c.value, nullptr, nullptr), c.answer)
        << c.selector << " " << c.value;
  }
}

TEST(DriverCallbacksTest, BufferSwitchPointsAtTheOtherHalfAndSignalsTheEvent) {
  std::unique_ptr<platform::Event> event = platform::Event::Create();
  ASSERT_NE(event, nullptr);
  // Without an event (between tracks) a late switch only moves the half.
  DriverCallbacks().bufferSwitch(1, false);
  EXPECT_EQ(engine::AsioHalf().load(), 0U);
  engine::PlaybackEventScope scope(event.get());
  for (const std::int32_t index : {0, 1, 0}) {
    DriverCallbacks().bufferSwitch(index, true);
    EXPECT_EQ(engine::AsioHalf().load(), static_cast<std::uint32_t>(1 - index));
    EXPECT_EQ(event->Wait(0), platform::WaitResult::kSignalled);
  }
}

TEST(DriverCallbacksTest, TimeInfoAnswersAZeroedRecordWithoutSignalling) {
  std::unique_ptr<platform::Event> event = platform::Event::Create();
  ASSERT_NE(event, nullptr);
  engine::PlaybackEventScope scope(event.get());
  engine::AsioTimeInfo().samplePosition = 12345;
  drv::TimeInfo given{.speed = 1.0, .sampleRate = 44100};
  drv::TimeInfo* answer = DriverCallbacks().bufferSwitchTimeInfo(&given, 0, false);
  ASSERT_EQ(answer, &engine::AsioTimeInfo());
  EXPECT_EQ(answer->samplePosition, 0U);
  EXPECT_EQ(answer->sampleRate, 0.0);
  EXPECT_EQ(event->Wait(0), platform::WaitResult::kTimeout);
  DriverCallbacks().sampleRateDidChange(48000);  // nothing to observe; must not signal either
  EXPECT_EQ(event->Wait(0), platform::WaitResult::kTimeout);
}

}  // namespace
}  // namespace lumaro::output
