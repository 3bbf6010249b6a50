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
using platform::sim::SimEndpointScript;

constexpr std::uint64_t kFirstData = 17;  // release of the first data buffer (after the lead-in)

// Plays, asks for a seek to `seconds` from the first data buffer's release, and keeps the next
// buffer and the current track as the device saw them.
class SeekTest : public EndpointTest {
 protected:
  SeekTest() { app_.PlayOnce = 0; }
  void PlaySeeking(const std::vector<std::u16string>& paths, std::u16string rate,
                   std::int32_t seconds,
                   std::function<bool(ShareMode, const WaveFormat&)> accepts = {}) {
    SimEndpointScript e{.name = u"Test", .accepts = std::move(accepts)};
    e.onRelease = [this, seconds](std::uint64_t release, const std::vector<std::uint8_t>& bytes) {
      if (release == kFirstData) app_.Seek.Request(seconds);
      if (release == kFirstData + 1) {
        afterSeek_ = bytes;
        currentTrack_ = app_.CurrentTrack.Load();
        app_.PlayCommand = context::kCommandStop;
      }
    };
    UseEndpoints({.endpoints = {e}});
    ASSERT_EQ(Play(paths, u"W: Test", std::move(rate)), kOk) << Utf8(window_.Text(2003));
  }
  std::vector<std::uint8_t> afterSeek_;
  std::uint32_t currentTrack_ = 99;
};

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
  };
  outputFrames_ = 400000;
  const std::vector<std::u16string> single = {u"/m/a.wav"}, list = {u"/m/a.wav", u"/m/b.wav"};
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.rate) + (c.gapless ? " gapless " : " ") + std::to_string(c.seconds));
    app_.Gapless = c.gapless ? 1 : 0;
    PlaySeeking(c.gapless ? list : single, c.rate, c.seconds);
    ASSERT_FALSE(afterSeek_.empty());
    for (std::size_t k = 0; k < afterSeek_.size(); ++k) {
      ASSERT_EQ(afterSeek_[k], PatternByte(c.offset + k)) << k;
    }
    EXPECT_EQ(currentTrack_, c.current);
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
    PlaySeeking({dsf}, u"Auto", 1, [container](ShareMode, const WaveFormat& f) {
      return f.bitsPerSample == container;
    });
    const std::size_t frameBytes = container / 4, half = frameBytes / 2;
    ASSERT_EQ(afterSeek_.size(), 35280 * frameBytes);
    // Frame 176400 of the file: its DSD bytes 352800 and 352801, the later one lowest.
    EXPECT_EQ(afterSeek_[half - 3], dsp::kBitReversed[left[352801]]);
    EXPECT_EQ(afterSeek_[half - 2], dsp::kBitReversed[left[352800]]);
    const std::vector<std::uint8_t> stream = endpoints_->Bytes();
    for (std::size_t f = 0; f < stream.size() / frameBytes; ++f) {
      const std::uint8_t marker = f % 2 == 0 ? 0x05 : 0xFA;
      ASSERT_EQ(stream[f * frameBytes + half - 1], marker) << f;
      ASSERT_EQ(stream[f * frameBytes + 2 * half - 1], marker) << f;
    }
  }
}

}  // namespace
}  // namespace lumaro::testing
