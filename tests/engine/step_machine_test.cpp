#include "engine/step_machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/playback_event.h"
#include "engine/playback_thread.h"
#include "resources/control_ids.h"
#include "tests/engine/engine_fixture.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAre;
namespace ids = resources;

constexpr char16_t kDropHere[] = u"Drop music files here";

// The idle look of the main window after a playback that ended without an error.
void ExpectIdleLook(const platform::ui::HeadlessDialog& w) {
  EXPECT_EQ(w.Text(ids::kIdFileText), kDropHere);
  EXPECT_TRUE(w.IsVisible(ids::kIdFileText));
  EXPECT_EQ(w.Text(ids::kIdStatusLine), u"");
  EXPECT_EQ(w.Text(ids::kIdTimeText), u"");
  for (const auto id : {ids::kIdStopButton, ids::kIdSeekBar, ids::kIdPlayList}) {
    EXPECT_FALSE(w.IsVisible(id) || w.IsEnabled(id)) << id;
  }
  EXPECT_EQ(w.ScrollPosition(ids::kIdSeekBar), 0);
  EXPECT_EQ(w.ComboCount(ids::kIdPlayList), 0);
  EXPECT_GE(w.RepaintCount(), 1);
}

using StepMachineTest = EngineTest;

// The playing look while the device runs, every status in order, then the idle look.
TEST_F(StepMachineTest, EveryStatusInOrderThePlayingLookThenIdle) {
  onFeed_ = [this](context::PlayRequest&) {
    EXPECT_TRUE(window_.IsVisible(ids::kIdStopButton) && window_.IsEnabled(ids::kIdStopButton));
    EXPECT_FALSE(window_.IsVisible(ids::kIdFileText));
    EXPECT_TRUE(window_.IsVisible(ids::kIdPlayList) && window_.IsEnabled(ids::kIdPlayList));
    EXPECT_THAT(window_.Control(ids::kIdPlayList).items, ElementsAre(u"a.wav", u"b.flac"));
    EXPECT_EQ(app_.ListActive, 1U);
  };
  EXPECT_EQ(Play({u"/m/a.wav", u"/n/b.flac"}), kOk);
  EXPECT_THAT(Statuses(), ElementsAre(u"", u"Registering file list ...", u"Preparing ...",
                                      u"COM initializing ...", u""));
  EXPECT_THAT(Log(), ElementsAre("decode /m/a.wav", "play 0"));
  EXPECT_THAT(window_.TextHistory(ids::kIdFileText),
              ElementsAre(u"", u"", u"", u"/m/a.wav", kDropHere));
  ExpectIdleLook(window_);
  EXPECT_EQ(app_.PositionValid, 0U);
  EXPECT_EQ(app_.ListActive, 0U);
}

TEST_F(StepMachineTest, RefusalsOfTheRegistrationInTheirOrder) {
  playlists_[u"/m/empty.m3u8"] = {};
  struct Case {
    std::vector<std::u16string> paths;
    std::u16string device;
    std::u16string rate;
    std::u16string text;
  } const cases[] = {
      {{u"/m/empty.m3u8"}, u"", u"", u"ERROR: no drop files"},
      {{u"/m/a.wav"}, u"", u"", u"ERROR: no available devices"},
      {{u"/m/a.wav"}, u"W: Test", u"", u"ERROR: device may not be available"},
      {{u"/m/a.wav", u"/m/dir/"}, u"W: Test", u"Auto", u"ERROR: GetFileTitle"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(Play(c.paths, c.device, c.rate), kOk) << Utf8(c.text);
    EXPECT_EQ(window_.Text(ids::kIdStatusLine), c.text);
    const auto statuses = Statuses();
    ASSERT_GE(statuses.size(), 2U);
    EXPECT_EQ(statuses[statuses.size() - 2], u"Registering file list ...");
    EXPECT_EQ(window_.ComboCount(ids::kIdPlayList), 0);
  }
  EXPECT_THAT(Log(), ElementsAre("read /m/empty.m3u8"));  // nothing was decoded
}

TEST_F(StepMachineTest, PlayListsExpandInPlaceAndOnlyWithTheExactExtension) {
  playlists_[u"/m/list.m3u8"] = {u"/m/p1.wav", u"/m/p2.wav"};
  EXPECT_EQ(Play({u"/m/x.wav", u"/m/list.m3u8", u"/m/UPPER.M3U8", u"/m/y.wav"}), kOk);
  EXPECT_THAT(Log(), ElementsAre("read /m/list.m3u8", "decode /m/x.wav", "play 0"));
  EXPECT_THAT(window_.TextHistory(ids::kIdFileText)[1], u"/m/list.m3u8");
  EXPECT_EQ(Statuses()[1], u"Play list reading ...");

  feed_ = {{context::kCommandJump, 3}, {context::kCommandJump, 2}};
  EXPECT_EQ(Play({u"/m/x.wav", u"/m/list.m3u8", u"/m/UPPER.M3U8", u"/m/y.wav"}), kOk);
  const auto log = Log();
  EXPECT_THAT(std::vector<std::string>(log.end() - 6, log.end()),
              ElementsAre("decode /m/x.wav", "play 0", "decode /m/UPPER.M3U8", "play 3",
                          "decode /m/p2.wav", "play 2"));
}

// A failed play list, decode or device keeps its text and shows its path where the play list was.
TEST_F(StepMachineTest, AFailureKeepsItsTextAndShowsItsPath) {
  tracks_[u"/m/bad.wav"].fail = true;
  const FeedAction ended{context::kCommandTrackEnded};
  const std::u16string start = u"DEVICE ERROR: Start failed";
  struct Case {
    std::vector<std::u16string> paths;
    std::deque<FeedAction> feed;
    std::u16string text, path;
  } const cases[] = {
      {{u"/m/a.wav", u"/m/missing.m3u8"}, {}, u"ERROR: play list read failed", u"/m/missing.m3u8"},
      {{u"/m/a.wav", u"/m/bad.wav"}, {ended}, u"ERROR: read failed", u"/m/bad.wav"},
      {{u"/m/a", u"/m/b"}, {ended, {.failText = start}}, start, u"/m/b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.text));
    feed_ = c.feed;
    EXPECT_NE(Play(c.paths), kOk);
    EXPECT_EQ(window_.Text(ids::kIdStatusLine), c.text);
    EXPECT_EQ(window_.Text(ids::kIdFileText), c.path);
    EXPECT_TRUE(window_.IsVisible(ids::kIdFileText));
    EXPECT_FALSE(window_.IsVisible(ids::kIdStopButton));
    EXPECT_FALSE(window_.IsVisible(ids::kIdPlayList));
  }
  const auto shown = Statuses();  // the play list's, the first row's
  EXPECT_THAT(std::vector(shown.begin(), shown.begin() + 3),
              ElementsAre(u"", u"Play list reading ...", u"ERROR: play list read failed"));
}

// Device steps that nest like the real ones (10 → 12 → 18 → 23 → 24), each recording its entry
// and exit, with the innermost failing.
TEST_F(StepMachineTest, AFailureUnwindsEveryStepInReverseOrder) {
  const auto nest = [this](context::StepHandler& handler, unsigned step, unsigned next) {
    handler = [this, step, next](context::PlayRequest& r) {
      recorder_.Add("enter " + std::to_string(step));
      const Result result = engine::StepMachine(r, next);
      recorder_.Add("leave " + std::to_string(step));
      return result;
    };
  };
  using context::Step;
  nest(EndpointStep(Step::kCreateEndpointEnumerator), 10, 12);
  nest(EndpointStep(Step::kActivateEndpoint), 12, 18);
  nest(steps_.raisePriority, 18, 23);
  EndpointStep(context::Step::kPrepareRendering) = [this](context::PlayRequest& r) -> Result {
    recorder_.Add(engine::PlaybackEvent() != nullptr ? "event" : "no event");
    engine::ShowStatus(r, u"DEVICE ERROR: GetBuffer failed");
    return 77;
  };
  EXPECT_EQ(Play({u"/m/a.wav"}), 77U);
  EXPECT_THAT(Log(), ElementsAre("decode /m/a.wav", "enter 10", "enter 12", "enter 18", "event",
                                 "leave 18", "leave 12", "leave 10"));
  EXPECT_EQ(engine::PlaybackEvent(), nullptr);
  EXPECT_EQ(window_.Text(ids::kIdStatusLine), u"DEVICE ERROR: GetBuffer failed");
  EXPECT_EQ(window_.Text(ids::kIdFileText), u"/m/a.wav");
}

// A stop at any point is never an error: the window returns to "Drop music files here".
TEST_F(StepMachineTest, AStopDuringAnyStepLeavesNoError) {
  const auto stopAndFail = [this](context::PlayRequest& r) -> Result {
    app_.PlayCommand = context::kCommandStop;
    engine::ShowStatus(r, u"ERROR: out of memory");  // a careless stage: still cleared
    return 9;
  };
  const auto readAndStop = [this](std::u16string_view, const platform::StopWord&) {
    app_.PlayCommand = context::kCommandStop;
    auto list = context::NewStringList();
    EXPECT_EQ(list->Append(u"/m/a.wav"), kOk);
    return list;
  };
  for (int where = 0; where < 4; ++where) {  // play list, decode, device, gapless decode
    context::StepTable steps = steps_;
    if (where == 0) steps.readPlaylist = readAndStop;
    if (where == 1 || where == 3) steps.decode = stopAndFail;
    if (where == 2)
      steps.Handler(context::DeviceFamily::kEndpoint, context::Step::kCreateEndpointEnumerator) =
          stopAndFail;
    app_.Gapless = where == 3 ? 1 : 0;
    auto request = MakeRequest({u"/m/list.m3u8", u"/m/b.wav"});
    playlists_[u"/m/list.m3u8"] = {u"/m/a.wav"};
    request->Steps = &steps;
    // A stop is never shown as an error; only a failed gapless decode keeps its own result,
    // and even that playback is published as ending idle, not failed.
    EXPECT_EQ(engine::RunPlayback(std::move(request)) == kOk, where != 3) << where;
    EXPECT_EQ(app_.Failures.LastResult(), kOk) << where;
    ExpectIdleLook(window_);
  }
  app_.Gapless = 0;
}

TEST_F(StepMachineTest, StepNumbersBeyondTheLastFail) {
  auto request = MakeRequest({u"/m/a.wav"});
  EXPECT_NE(engine::StepMachine(*request, context::Number(context::kLastStep) + 1), kOk);
  EXPECT_NE(engine::StepMachine(*request, 255), kOk);
  EXPECT_NE(engine::StepMachine(*request, 22), kOk);  // a step nobody provides fails
}

}  // namespace
}  // namespace lumaro::testing
