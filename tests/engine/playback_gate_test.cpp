#include "context/playback_gate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/playback_thread.h"
#include "tests/engine/engine_fixture.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAre;

// Waits (bounded) until `done` holds; answers whether it did.
template <class Done>
bool WaitFor(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST_F(EngineTest, ASecondDropStopsTheFirstWhichReturnsToIdleThenTheSecondStarts) {
  std::atomic<bool> firstPlaying{false};
  std::atomic<bool> secondDone{false};
  std::atomic<std::uint32_t> secondSawCommand{99};
  EndpointStep(context::Step::kCreateEndpointEnumerator) = [&](context::PlayRequest& r) -> Result {
    if (*r.TrackPath == u"/m/first") {
      recorder_.Add("first feeding");
      firstPlaying = true;
      // A feeding loop: runs until PlayCommand asks it to leave.
      while (app_.PlayCommand.Load() == context::kCommandNone) std::this_thread::yield();
      recorder_.Add("first left");
      return kOk;
    }
    secondSawCommand = app_.PlayCommand.Load();
    recorder_.Add(window_.Text(2000) == u"/m/second" ? "second shown" : "second hidden");
    app_.PlayCommand = context::kCommandStop;
    secondDone = true;
    return kOk;
  };

  ASSERT_TRUE(engine::StartPlayback(MakeRequest({u"/m/first"})));
  ASSERT_TRUE(WaitFor([&] { return firstPlaying.load(); }));
  ASSERT_TRUE(engine::StartPlayback(MakeRequest({u"/m/second"})));
  ASSERT_TRUE(WaitFor([&] { return secondDone.load(); }));
  ASSERT_TRUE(WaitFor([] { return context::PlaybackGateFree(); }));

  EXPECT_EQ(secondSawCommand.load(), context::kCommandNone);
  const auto log = Log();
  EXPECT_THAT(log, ElementsAre("decode /m/first", "first feeding", "first left", "decode /m/second",
                               "second shown"));
  // Between the two, the window went back to its idle look.
  const auto files = window_.TextHistory(2000);
  const auto idle = std::find(files.begin(), files.end(), u"Drop music files here");
  const auto second = std::find(files.begin(), files.end(), u"/m/second");
  EXPECT_LT(idle, second);
  EXPECT_EQ(window_.Text(2000), u"Drop music files here");
}

}  // namespace
}  // namespace lumaro::testing
