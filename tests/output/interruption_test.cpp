// Playbacks cut short by a stop in a preparation stage or a device failing after its start: each
// ends with its own texts only and nothing left behind (the sanitizer build checks for leaks).
#include <gtest/gtest.h>

#include "platform/os.h"
#include "tests/output/endpoint_test_fixture.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

// The player's own steps on files the test writes, against one simulated endpoint "Test".
class InterruptionTest : public EndpointTest {
 protected:
  InterruptionTest() {
    steps_ = app::PlayerSteps();
    std::vector<std::int64_t> samples(2 * 44100);  // one second of a sawtooth
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = (i * 37) % 20000 - 10000;
    wav_ = dir_.Write(u"interrupted.wav", MakeWav({}, PackLe(samples, 16)));
  }

  TempDir dir_;
  std::u16string wav_;
  const std::u16string dsf_ =
      dir_.Write(u"interrupted.dsf", MakeDsf({}, {Bytes(44100, 0x69), Bytes(44100, 0x96)}));
};

// A stop given as a preparation stage starts (its status text appears) ends the playback quietly:
// no error text, no later stage, the idle look back, no client or partial cache file left.
TEST_F(InterruptionTest, AStopDuringEachPreparationStageEndsQuietly) {
  struct Case {
    std::u16string stage;  // its status text
    bool dsd;
    std::u16string rate;
    std::uint32_t assist;
    std::uint32_t cache;
    std::u16string noticedAt;  // where the stop ends the playback (empty: in the stage)
  } const cases[] = {
      {u"Compressing ...", false, u"Auto", context::kAssistCompression},
      {u"Loudness normalizing ...", false, u"Auto", context::kAssistLoudness},
      {u"Peak normalizing ...", false, u"Auto", context::kAssistPeak},
      {u"Converting to 64bit float ...", true, u"Auto", context::kAssistPeak},
      {u"Resampling ...", false, u"48000", context::kAssistNone},
      {u"Converting to 1bit ...", false, u"D64", context::kAssistNone},
      {u"Converting to output data ...", false, u"Auto", context::kAssistNone},  // to integers
      // DoP packing only moves bytes and never fails: the lead-in notices the stop.
      {u"Converting to output data ...", true, u"Auto", context::kAssistNone, 0, u"Starting ..."},
      {u"Writing cache file ...", false, u"Auto", context::kAssistNone, 1},
      {u"Writing cache file ...", true, u"Auto", context::kAssistNone, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.stage) + (c.dsd ? " (DSD)" : ""));
    const std::u16string cacheFile =
        platform::ExecutableDirectory() + u"/interrupted" + (c.dsd ? u".dff" : u".wav");
    (void)platform::DeleteFile(cacheFile);
    app_.VolumeAssist = c.assist;
    app_.Cache = c.cache;
    app_.PlayCommand = context::kCommandNone;
    bool preparing = false;
    window_.SetObserver([&](platform::ui::ControlId id) {
      const std::u16string text = id == 2003 ? window_.Text(2003) : u"";
      preparing = preparing || text == u"Setting process priority ...";
      if (preparing && text == c.stage) app_.PlayCommand = context::kCommandStop;
    });
    UseEndpoints({.endpoints = {{.name = u"Test"}}});
    (void)Play({c.dsd ? dsf_ : wav_}, u"W: Test", c.rate);
    window_.SetObserver({});
    const std::vector<std::u16string> shown = Statuses();
    const auto last =
        std::find_if(shown.rbegin(), shown.rend(), [](auto& t) { return !t.empty(); });
    ASSERT_NE(last, shown.rend());
    EXPECT_EQ(*last, c.noticedAt.empty() ? c.stage : c.noticedAt);
    EXPECT_EQ(window_.Text(2003), u"");
    EXPECT_EQ(window_.Text(2000), u"Drop music files here");
    EXPECT_EQ(endpoints_->LiveClients(), 0);
    EXPECT_EQ(CallsStartingWith("Initialize").empty(), c.noticedAt.empty());
    EXPECT_FALSE(platform::PathFileExists(cacheFile));
  }
}

// A device that fails once started is stopped and released, with the text of the failing call;
// a failed ReleaseBuffer has no text of its own: the device, given nothing, stops asking, and
// the wait for it times out.
TEST_F(InterruptionTest, ADeviceFailingAfterStartIsStoppedAndReleased) {
  struct Case {
    std::string call;
    std::u16string rate;
    std::uint64_t afterReleases;  // 1: in the lead-in, 17: while feeding
    std::u16string text;
  } const cases[] = {
      {"GetBuffer", u"Auto", 1, u"DEVICE ERROR: GetBuffer failed"},
      {"GetBuffer", u"Share", 17, u"DEVICE ERROR: GetBuffer failed"},
      {"GetCurrentPadding", u"Share", 17, u"DEVICE ERROR: GetCurrentPadding"},
      {"ReleaseBuffer", u"Auto", 1, u"ERROR: WaitForSingleObject failed"},
      {"ReleaseBuffer", u"Auto", 17, u"ERROR: WaitForSingleObject failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call + " after " + std::to_string(c.afterReleases));
    UseEndpoints(
        {.endpoints = {
             {.name = u"Test", .failing = {c.call}, .failingAfterReleases = c.afterReleases}}});
    EXPECT_NE(Play({wav_}, u"W: Test", c.rate), kOk);
    EXPECT_EQ(window_.Text(2003), c.text);
    EXPECT_EQ(window_.Text(2000), wav_);
    EXPECT_EQ(endpoints_->Releases().size(), c.afterReleases);
    EXPECT_EQ(CallsStartingWith("St"), (std::vector<std::string>{"Start", "Stop"}));
    EXPECT_EQ(endpoints_->LiveClients(), 0);
  }
}

}  // namespace
}  // namespace lumaro::testing
