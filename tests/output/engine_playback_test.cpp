// Whole playbacks through the player's own steps: real files written by the test, decoded,
// prepared and fed to simulated endpoints or the File output, checking the status lines and
// the exact bytes the device received.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <set>

#include "app/player_steps.h"
#include "engine/track_preparation.h"
#include "tests/output/endpoint_test_fixture.h"
#include "tests/support/fake_memory_status.h"

namespace lumaro::testing {
namespace {

using platform::endpoint::ShareMode;
using platform::endpoint::WaveFormat;
using platform::sim::SimEndpointScript;
using ::testing::Contains;
using ::testing::ElementsAre;

constexpr std::size_t kLeadInReleases = 16;  // the pre-fill and 3 s of 200 ms buffers

class PlaybackTest : public EndpointTest {
 protected:
  PlaybackTest() { steps_ = app::PlayerSteps(); }
  // An endpoint "DAC" that takes only the formats `accepts` allows.
  void UseDac(std::function<bool(ShareMode, const WaveFormat&)> accepts = {}) {
    UseEndpoints({.endpoints = {SimEndpoint(u"DAC", std::move(accepts))}});
  }
  // The bytes the device got after its lead-in.
  std::vector<std::uint8_t> Played() const {
    const std::vector<std::uint8_t> bytes = endpoints_->Bytes();
    const std::vector<std::uint32_t> r = endpoints_->Releases();
    if (r.size() < kLeadInReleases) return {};
    const std::size_t frameBytes = bytes.size() / std::accumulate(r.begin(), r.end(), 0UL);
    const std::size_t lead = std::accumulate(r.begin(), r.begin() + kLeadInReleases, 0UL);
    return {bytes.begin() + static_cast<std::ptrdiff_t>(lead * frameBytes), bytes.end()};
  }
  TempDir dir_;
};

TEST_F(PlaybackTest, A24BitWavAtItsOwnRateThroughExclusive24BitContainers) {
  const std::vector<std::int64_t> samples = {8388607, -8388608, 1, -1, 4194304, -3, 0, 12345};
  const std::u16string wav =
      dir_.Write(u"a.wav", MakeWav({.rate = 48000, .bits = 24}, PackLe(samples, 24)));
  for (std::uint16_t container : {24, 32}) {
    UseDac([container](ShareMode mode, const WaveFormat& f) {
      return mode == ShareMode::kExclusive && f.validBitsPerSample == 24 &&
             f.bitsPerSample == container;
    });
    ASSERT_EQ(Play({wav}, u"W: DAC", u"Auto"), kOk) << Utf8(window_.Text(2003));
    Bytes expected;  // little-endian, left-justified in 32 bits
    for (const std::int64_t s : samples) {
      if (container == 32) expected.push_back(0);
      // s / 2^23, then × 8388607, rounded to even.
      const auto v = static_cast<std::int32_t>(std::nearbyint(s / 8388608.0 * 8388607.0));
      for (int k = 0; k < 3; ++k) expected.push_back(static_cast<std::uint8_t>(v >> 8 * k));
    }
    EXPECT_TRUE(BytesAt(Played(), 0, expected));
    EXPECT_THAT(Statuses(),
                Contains(u"Decode: 24bit 48000Hz - Out: 24/" +
                         std::u16string(container == 24 ? u"24" : u"32") + u"bit 48000Hz"));
  }
}

TEST_F(PlaybackTest, APcmTrackToD64IsModulatedThenPackedAndADsdTrackAtAnotherRateIsRemodulated) {
  std::vector<std::int64_t> sine;
  for (int i = 0; i < 4410; ++i) {
    const auto v = static_cast<std::int64_t>(16000 * std::sin(i * 0.0627));
    sine.push_back(v);
    sine.push_back(-v);
  }
  const std::u16string wav = dir_.Write(u"s.wav", MakeWav({}, PackLe(sine, 16)));
  UseDac();
  ASSERT_EQ(Play({wav}, u"W: DAC", u"D64"), kOk) << Utf8(window_.Text(2003));
  EXPECT_THAT(Statuses(), Contains(u"Converting to 1bit ..."));
  EXPECT_THAT(Statuses(), Contains(u"Decode: 16bit 44100Hz - Out: 24/24bit 176400Hz DoP"));
  const std::vector<std::uint8_t> played = Played();
  ASSERT_GE(played.size(), 4410U * 4 * 6);  // 4 DoP frames per 44.1 kHz frame
  for (std::size_t f = 0; f < 4410 * 4; ++f) {
    ASSERT_EQ(played[f * 6 + 2], f % 2 == 0 ? 0x05 : 0xFA) << f;
    ASSERT_EQ(played[f * 6 + 5], f % 2 == 0 ? 0x05 : 0xFA) << f;
  }

  const std::u16string dsf =
      dir_.Write(u"b.dsf", MakeDsf({}, {Bytes(8192, 0x69), Bytes(8192, 0x96)}));
  UseDac();
  ASSERT_EQ(Play({dsf}, u"W: DAC", u"D128"), kOk) << Utf8(window_.Text(2003));
  EXPECT_THAT(Statuses(), Contains(u"Converting to 64bit float ..."));
  EXPECT_THAT(Statuses(), Contains(u"Converting to 1bit ..."));
  EXPECT_THAT(Statuses(), Contains(u"Decode: 1bit 2822400Hz - Out: 24/24bit 352800Hz DoP"));
}

TEST_F(PlaybackTest, VolumeAssistRunsInItsOrder) {
  const std::u16string wav =
      dir_.Write(u"v.wav", MakeWav({}, PackLe({1000, -1000, 2000, -2000, 3000, 0}, 16)));
  const std::set<std::u16string> assistTexts = {u"Compressing ...", u"Peak normalizing ...",
                                                u"Loudness normalizing ..."};
  struct Case {
    std::uint32_t assist;
    std::uint32_t peakAfterCompression;
    std::vector<std::u16string> texts;
  } const cases[] = {
      {context::kAssistPeak, 1, {u"Peak normalizing ..."}},
      {context::kAssistCompression, 1, {u"Compressing ...", u"Peak normalizing ..."}},
      {context::kAssistCompression, 0, {u"Compressing ..."}},
      {context::kAssistLoudness, 1, {u"Loudness normalizing ..."}},
  };
  for (const Case& c : cases) {
    app_.VolumeAssist = c.assist;
    app_.CompPeakNormalization = c.peakAfterCompression;
    UseDac();
    const std::size_t before = Statuses().size();
    ASSERT_EQ(Play({wav}, u"W: DAC"), kOk) << Utf8(window_.Text(2003));
    const std::vector<std::u16string> statuses = Statuses();
    std::vector<std::u16string> assist;
    for (std::size_t i = before; i < statuses.size(); ++i) {
      if (assistTexts.contains(statuses[i])) assist.push_back(statuses[i]);
    }
    EXPECT_EQ(assist, c.texts) << c.assist;
  }
}

// Every status of a whole playback in order; in shared mode the track is first resampled to
// the closest match the endpoint offers.
TEST_F(PlaybackTest, EveryStatusOfAWholePlaybackInOrder) {
  const std::u16string wav =
      dir_.Write(u"o.wav", MakeWav({}, PackLe(std::vector<std::int64_t>(8820, 100), 16)));
  std::vector<std::u16string> expected = {u"",
                                          u"Registering file list ...",
                                          u"Preparing ...",
                                          u"Reading with built-in decoder ...",
                                          u"Converting to 64bit float ...",
                                          u"COM initializing ...",
                                          u"CoCreateInstance ...",
                                          u"Creating end point ...",
                                          u"Activating device ...",
                                          u"Selecting output format ...",
                                          u"Setting process priority ...",
                                          u"Volume assist starting ...",
                                          u"Converting to output data ...",
                                          u"Device initializing ...",
                                          u"Starting ...",
                                          u"Decode: 16bit 44100Hz - Out: 32/32bit 44100Hz",
                                          u""};
  UseDac();
  ASSERT_EQ(Play({wav}, u"W: DAC", u"Auto"), kOk) << Utf8(window_.Text(2003));
  EXPECT_EQ(Statuses(), expected);

  SimEndpointScript e = SimEndpoint(u"DAC", [](ShareMode mode, const WaveFormat& f) {
    return mode == ShareMode::kShared && f.samplesPerSec == 48000;
  });
  e.sharedClosest =
      platform::endpoint::MakeWaveFormat(platform::endpoint::SubFormat::kIeeeFloat, 48000, 32, 32);
  UseEndpoints({.endpoints = {e}});
  ASSERT_EQ(Play({wav}, u"W: DAC", u"Share"), kOk) << Utf8(window_.Text(2003));
  expected.insert(expected.end() - 5, u"Resampling ...");
  expected.end()[-2] = u"Decode: 16bit 44100Hz - Out: 32/32bit float 48000Hz";
  const auto both = Statuses();
  EXPECT_EQ(std::vector(both.end() - static_cast<std::ptrdiff_t>(expected.size()), both.end()),
            expected);
}

// A stage that runs out of memory says so, unless a stop was asked for; a cache file that
// cannot be written stops playback with its own text.
TEST_F(PlaybackTest, PreparationFailuresShowTheirTextsOnlyWithoutAStop) {
  // Ten seconds: the decoded track fits the memory guard, the compressor's padded copy not.
  const std::u16string wav =
      dir_.Write(u"long.wav", MakeWav({}, PackLe(std::vector<std::int64_t>(2 * 441000, 1000), 16)));
  app_.VolumeAssist = context::kAssistCompression;
  for (const bool stop : {false, true}) {
    steps_.applyVolumeAssist = [stop, this](context::PlayRequest& r) {
      FakeMemoryStatus nothingFree(0);
      if (stop) app_.PlayCommand = context::kCommandStop;
      return engine::ApplyVolumeAssist(r);
    };
    UseDac();
    const std::size_t before = Statuses().size();
    (void)Play({wav}, u"W: DAC", u"Auto");
    const auto statuses = Statuses();
    EXPECT_EQ(std::count(statuses.begin() + static_cast<std::ptrdiff_t>(before), statuses.end(),
                         u"ERROR: out of memory"),
              stop ? 0 : 1);
    EXPECT_EQ(window_.Text(2003), stop ? u"" : u"ERROR: out of memory");
    // The failure's chain, from the memory guard out to the stage; nothing during a stop.
    const auto failed = app_.Failures.TakeFailed();
    ASSERT_EQ(failed.size(), stop ? 0u : 1u);
    EXPECT_EQ(app_.Failures.LastResult(), stop ? kOk : failed[0].result);
    if (!stop) {
      EXPECT_EQ(failed[0].chain.front().name, "memory guard refused");
      EXPECT_TRUE(failed[0].chain.front().detail.ends_with(" (0 bytes available)"));
      EXPECT_EQ(failed[0].chain.back().name, "compress copy");
      EXPECT_EQ(failed[0].chain.back().code, failed[0].result);
    }
  }
  steps_ = app::PlayerSteps();
  app_.VolumeAssist = context::kAssistNone;
  app_.Cache = 1;
  // A cache name longer than a path may be cannot be written.
  const std::u16string longName =
      dir_.Write(std::u16string(240, u'n') + u".wav", MakeWav({}, PackLe({1, 2, 3, 4}, 16)));
  UseDac();
  EXPECT_NE(Play({longName}, u"W: DAC", u"Auto"), kOk);
  const auto statuses = Statuses();
  EXPECT_THAT(statuses, Contains(u"Writing cache file ..."));
  EXPECT_EQ(window_.Text(2003), u"ERROR: cache file write failed");
}

}  // namespace
}  // namespace lumaro::testing
