// Seeks inside a playing track: where the feeding continues, the DoP markers staying in step with
// the data, and the current track of a gapless list.
#include <gtest/gtest.h>

#include "dsp/bit_reverse.h"
#include "tests/output/endpoint_test_fixture.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

using platform::endpoint::ShareMode;
using platform::endpoint::WaveFormat;
using SeekTest = EndpointTest;

// The feeding continues at target × bytes per second of the output, in every output kind; in a
// gapless list the current track is the one whose start offset the new position has passed.
TEST_F(SeekTest, FeedingContinuesAtTheTargetSecondAndTheCurrentTrackFollows) {
  tracks_[u"/m/a.wav"] = {.frames = 60000};  // the second track starts 60000 frames in
  tracks_[u"/m/b.wav"] = {.frames = 30000};
  struct Case {
    std::u16string rate;
    bool gapless;
    std::int32_t seconds;
    std::uint64_t offset;  // bytes into the output
    std::uint32_t current;
  } const cases[] = {
      {u"Auto", false, 2, 2 * 44100 * 8, 0},   //
      {u"Share", false, 3, 3 * 44100 * 8, 0},  //
      {u"D64", false, 1, 176400 * 6, 0},       // DoP frames of 24 bits
      {u"Auto", true, 1, 44100 * 8, 0},        // before the second track's start
      {u"Auto", true, 2, 2 * 44100 * 8, 1},    // past it
      {u"Auto", false, 3600, 0, 0},            // beyond the end: wraps to the start
  };
  outputFrames_ = 400000;
  const std::vector<std::u16string> single = {u"/m/a.wav"}, list = {u"/m/a.wav", u"/m/b.wav"};
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.rate) + (c.gapless ? " gapless " : " ") + std::to_string(c.seconds));
    app_.Gapless = c.gapless ? 1 : 0;
    PlayActingOnData(c.gapless ? list : single, c.rate, [&] { app_.Seek.Request(c.seconds); });
    ASSERT_FALSE(next_.empty());
    for (std::size_t k = 0; k < next_.size(); ++k)
      ASSERT_EQ(next_[k], PatternByte(c.offset + k)) << k;
    EXPECT_EQ(nextTrack_, c.current);
    EXPECT_EQ(app_.SeekPending.Load(), 0U);
  }
}

// A DSD64 file played as DoP: after a seek the device gets the file's frames from the target on,
// and the markers 0x05/0xFA alternate without a break through the whole stream (lead-in, data
// before the seek, data after it), so the DAC keeps its DoP lock.
TEST_F(SeekTest, DopMarkersStayInStepWithTheDataThroughASeek) {
  steps_ = app::PlayerSteps();
  TempDir dir;
  Bytes left(2 * 352800);  // 2 s of DSD64
  for (std::size_t i = 0; i < left.size(); ++i) left[i] = static_cast<unsigned char>(i * 7 + i / 9);
  const std::u16string dsf = dir.File(u"a.dsf");
  ASSERT_TRUE(WriteFileBytes(dsf, MakeDsf({}, {left, Bytes(left.size(), 0x69)})));
  for (const std::size_t container : {24, 32}) {
    SCOPED_TRACE(container);
    PlayActingOnData(
        {dsf}, u"Auto", [this] { app_.Seek.Request(1); },
        [container](ShareMode, const WaveFormat& f) { return f.bitsPerSample == container; });
    const std::size_t frameBytes = container / 4, half = frameBytes / 2;
    ASSERT_EQ(next_.size(), 35280 * frameBytes);
    // Frame 176400 of the file: its DSD bytes 352800 and 352801, the later one lowest.
    EXPECT_EQ(next_[half - 3], dsp::kBitReversed[left[352801]]);
    EXPECT_EQ(next_[half - 2], dsp::kBitReversed[left[352800]]);
    const std::vector<std::uint8_t> stream = endpoints_->Bytes();
    for (std::size_t f = 0; f < stream.size() / frameBytes; ++f) {
      const std::uint8_t marker = f % 2 == 0 ? 0x05 : 0xFA;
      ASSERT_EQ(stream[f * frameBytes + half - 1], marker) << f;
      ASSERT_EQ(stream[f * frameBytes + 2 * half - 1], marker) << f;
    }
  }
}

// A jump in a gapless list lands on the track's start offset without stopping the device.
TEST_F(SeekTest, AGaplessJumpLandsOnTheTracksStartOffset) {
  app_.Gapless = 1;
  tracks_[u"/m/a.wav"] = {.frames = 20000};
  tracks_[u"/m/b.wav"] = {.frames = 30000};
  outputFrames_ = 50000;
  PlayActingOnData({u"/m/a.wav", u"/m/b.wav"}, u"Auto", [this] {
    app_.RequestedTrack = 1;
    app_.PlayCommand = context::kCommandJump;
  });
  const std::uint64_t offset =
      static_cast<std::uint64_t>(44100 * (20000.0 / 44100)) * 8;  // the start offset rule
  EXPECT_TRUE(BytesAt(next_, 0, PatternBytes(8820 * 8, offset)));
  EXPECT_EQ(next_.size(), 8820U * 8);
  EXPECT_EQ(nextTrack_, 1U);
  EXPECT_EQ(CallsStartingWith("Start").size(), 1U);
}

}  // namespace
}  // namespace lumaro::testing
