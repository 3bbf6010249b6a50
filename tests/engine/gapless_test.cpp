#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/engine/engine_fixture.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAre;

class GaplessTest : public EngineTest {
 protected:
  GaplessTest() { app_.Gapless = 1; }
};

TEST_F(GaplessTest, JoinsPcmTracksAndMarksWhereEachStarts) {
  tracks_[u"/m/a"] = {.frames = 3, .value = 0.5};
  tracks_[u"/m/b"] = {.frames = 2, .value = -0.25};
  tracks_[u"/m/c"] = {.frames = 4410, .value = 0.125};
  bool fed = false;
  onFeed_ = [&](context::PlayRequest& r) {
    fed = true;
    const dsp::AudioBuffer* joined = r.Buffer.Get<dsp::AudioBuffer>();
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(joined->sampleRate, 44100U);
    EXPECT_EQ(joined->frameCount, 4415U);
    EXPECT_EQ(joined->leadIn, 48U);
    for (std::uint64_t f = 0; f < 4415; ++f) {
      const double v = f < 3 ? 0.5 : f < 5 ? -0.25 : 0.125;
      ASSERT_TRUE(joined->Frame(f)[0] == v && joined->Frame(f)[1] == v) << f;
    }
    EXPECT_EQ(r.TrackTable[0].StartSeconds, 0.0);
    EXPECT_EQ(r.TrackTable[1].StartSeconds, 3.0 / 44100);
    EXPECT_EQ(r.TrackTable[2].StartSeconds, 5.0 / 44100);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(r.TrackTable[i].Record.Empty());
    EXPECT_EQ(app_.CurrentTrack.Load(), 0U);
    EXPECT_EQ(r.TrackIndex, 0U);
  };
  EXPECT_EQ(Play({u"/m/a", u"/m/b", u"/m/c"}), kOk);
  EXPECT_TRUE(fed);
  EXPECT_THAT(Log(), ElementsAre("decode /m/a", "decode /m/b", "decode /m/c", "play 0"));
  // The play-list box stays disabled while the tracks decode.
  EXPECT_FALSE(window_.Control(2005).enabled);
}

TEST_F(GaplessTest, JoinsDsdTracksBytePairByBytePair) {
  tracks_[u"/m/a.dsf"] = {.isDsd = 1, .bits = 1, .rate = 2822400, .frames = 3, .value = 0x11};
  tracks_[u"/m/b.dsf"] = {.isDsd = 1, .bits = 1, .rate = 2822400, .frames = 5, .value = 0x22};
  onFeed_ = [&](context::PlayRequest& r) {
    const dsp::DsdBuffer* joined = r.Buffer.Get<dsp::DsdBuffer>();
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(joined->length, 8U);
    EXPECT_EQ(joined->leadIn, 128U);
    const std::vector<unsigned char> bytes(joined->Data(), joined->Data() + 16);
    EXPECT_THAT(bytes, ElementsAre(0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22, 0x22,
                                   0x22, 0x22, 0x22, 0x22, 0x22));
    EXPECT_EQ(joined->Data()[16], dsp::kDsdSilence);  // the lead-in after the data
    EXPECT_EQ(r.TrackTable[1].StartSeconds, 3 * 8.0 / 2822400);
  };
  EXPECT_EQ(Play({u"/m/a.dsf", u"/m/b.dsf"}), kOk);
}

TEST_F(GaplessTest, TracksOfAnotherFormatStopBeforeAnythingPlays) {
  for (const FakeTrack& second :
       {FakeTrack{.rate = 48000}, {.bits = 24}, {.isDsd = 1, .bits = 16, .rate = 2822400}}) {
    tracks_[u"/m/b"] = second;
    EXPECT_NE(Play({u"/m/a", u"/m/b", u"/m/c"}), kOk);
    EXPECT_EQ(window_.Text(2003), u"ERROR: not in the same format");
    EXPECT_EQ(window_.Text(2000), u"/m/b");
    EXPECT_TRUE(window_.IsVisible(2000));
  }
  for (const auto& entry : Log()) EXPECT_FALSE(entry.starts_with("play")) << entry;
  EXPECT_FALSE(Log().empty());
}

TEST_F(GaplessTest, AFailedDecodeEndsWithItsResultAndFreesWhatWasDecoded) {
  tracks_[u"/m/b"].fail = true;
  EXPECT_NE(Play({u"/m/a", u"/m/b", u"/m/c"}), kOk);
  EXPECT_THAT(Log(), ElementsAre("decode /m/a", "decode /m/b"));
  EXPECT_EQ(window_.Text(2003), u"ERROR: read failed");
}

TEST_F(GaplessTest, AJumpDuringTheLeadInEndsThePlayback) {
  feed_ = {{context::kCommandJump, 1}};
  EXPECT_EQ(Play({u"/m/a", u"/m/b"}), kOk);
  EXPECT_THAT(Log(), ElementsAre("decode /m/a", "decode /m/b", "play 0"));
  EXPECT_EQ(window_.Text(2000), u"Drop music files here");
}

}  // namespace
}  // namespace lumaro::testing
