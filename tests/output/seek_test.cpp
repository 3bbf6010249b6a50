// Seeks inside a playing track: where the feeding continues, the DoP markers staying in step with
// the data, and the current track of a gapless list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dsp/bit_reverse.h"
#include "tests/output/endpoint_test_fixture.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

using platform::endpoint::ShareMode;
using platform::endpoint::WaveFormat;
using ::testing::Contains;
using ::testing::Not;
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

// A DSD64 file plays as DoP at its own rate without conversion: per sample the later byte, the
// earlier byte (bits reversed), then the marker, in 24- or 32-bit containers. After a seek the
// device gets the file's frames from the target on, and the markers 0x05/0xFA alternate without
// a break through the whole stream (lead-in, data before the seek and after it), so the DAC
// keeps its DoP lock.
TEST_F(SeekTest, DsdPlaysAsDopWithTheMarkersInStepThroughASeek) {
  steps_ = app::PlayerSteps();
  TempDir dir;
  Bytes left(2 * 352800), right(left.size());  // 2 s of DSD64
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = static_cast<unsigned char>(i * 7 + i / 9);
    right[i] = static_cast<unsigned char>(i * 13 + 5);
  }
  const std::u16string dsf = dir.Write(u"a.dsf", MakeDsf({}, {left, right}));
  for (const std::size_t container : {24, 32}) {
    SCOPED_TRACE(container);
    PlayActingOnData(
        {dsf}, u"Auto", [this] { app_.Seek.Request(1); },
        [container](ShareMode, const WaveFormat& f) { return f.bitsPerSample == container; });
    const auto dop = [&](std::size_t first, std::size_t count) {  // DoP frames of the file
      Bytes bytes;
      for (std::size_t f = first; f < first + count; ++f) {
        for (const Bytes* channel : {&left, &right}) {
          if (container == 32) bytes.push_back(0);
          bytes.push_back(dsp::kBitReversed[(*channel)[2 * f + 1]]);
          bytes.push_back(dsp::kBitReversed[(*channel)[2 * f]]);
          bytes.push_back(f % 2 == 0 ? 0x05 : 0xFA);
        }
      }
      return bytes;
    };
    const std::size_t frameBytes = container / 4, half = frameBytes / 2;
    const std::vector<std::uint8_t> stream = endpoints_->Bytes();
    const Bytes idle = container == 24 ? Bytes{0xCC, 0xCC, 0x05, 0xCC, 0xCC, 0x05}
                                       : Bytes{0, 0xCC, 0xCC, 0x05, 0, 0xCC, 0xCC, 0x05};
    EXPECT_TRUE(BytesAt(stream, 0, idle));  // the lead-in starts with the idle pattern
    EXPECT_TRUE(BytesAt(stream, 16 * 35280 * frameBytes, dop(0, 35280)));  // after the lead-in
    EXPECT_EQ(next_, dop(176400, 35280));                                  // from second 1 on
    for (std::size_t f = 0; f < stream.size() / frameBytes; ++f) {
      const std::uint8_t marker = f % 2 == 0 ? 0x05 : 0xFA;
      ASSERT_EQ(stream[f * frameBytes + half - 1], marker) << f;
      ASSERT_EQ(stream[f * frameBytes + 2 * half - 1], marker) << f;
    }
    EXPECT_THAT(Statuses(), Not(Contains(u"Converting to 64bit float ...")));
    EXPECT_THAT(Statuses(),
                Contains(u"Decode: 1bit 2822400Hz - Out: 24/" +
                         std::u16string(container == 24 ? u"24" : u"32") + u"bit 176400Hz DoP"));
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
