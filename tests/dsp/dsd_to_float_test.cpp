#include "dsp/dsd_to_float.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <tuple>
#include <vector>

#include "dsp/clip_guard.h"
#include "dsp/float_to_output.h"
#include "dsp/guarded_alloc.h"
#include "dsp/pcm_buffer.h"
#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::ByteRamp;
using lumaro::testing::DsdSlot;

TEST(DsdToFloatTest, FilterTapsAreSymmetricPhaseNormalisedAndSumToTwo) {
  DsdFilter f;
  BuildDsdFilter(f);
  for (unsigned i = 0; i < 48; ++i) EXPECT_EQ(f.taps[i], f.taps[95 - i]);
  EXPECT_NEAR(std::accumulate(f.taps.begin(), f.taps.end(), 0.0), 2.0, 1e-12);
  for (unsigned p = 0; p < 24; ++p) {
    EXPECT_NEAR(f.taps[p] + f.taps[p + 24] + f.taps[p + 48] + f.taps[p + 72], 2.0 / 24, 1e-12);
  }
  // All one-bits in a byte of table k sum that table's eight taps (so all twelve sum to +2.0).
  for (unsigned k = 0; k < f.table.size(); ++k) {
    const auto first = f.taps.begin() + 8 * k;
    EXPECT_DOUBLE_EQ(f.table[k][0xFF], std::accumulate(first, first + 8, 0.0)) << k;
  }
  EXPECT_DOUBLE_EQ(f.table[3][0x00], -f.table[3][0xFF]);
}

TEST(DsdToFloatTest, DecimatesEachRateToItsRateAndLength) {
  // DSD rate, byte pairs; PCM rate, frames.
  const std::array<std::uint64_t, 4> cases[] = {{2822400, 1000, 352800, 1000},
                                                {5644800, 999, 705600, 999},
                                                {11289600, 1001, 705600, 500},
                                                {22579200, 1003, 705600, 250}};
  for (const auto& [dsdRate, length, pcmRate, frames] : cases) {
    SCOPED_TRACE(dsdRate);
    BufferSlot slot = DsdSlot(static_cast<std::uint32_t>(dsdRate), length, kDsdSilence);
    ASSERT_EQ(DsdToFloat(slot, platform::StopWord{}), kOk);
    const AudioBuffer* out = slot.Get<AudioBuffer>();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->sampleRate, pcmRate);
    EXPECT_EQ(out->frameCount, frames);
    EXPECT_EQ(out->leadIn, 48U);
    // 0xCC is odd about the middle of the symmetric filter: silence.
    for (double x : lumaro::testing::RealSamples(slot)) ASSERT_NEAR(x, 0.0, 1e-12);
  }
}

TEST(DsdToFloatTest, DecimationRuleRefusesUnevenRates) {
  std::uint32_t rate = 0;
  unsigned d = 0;
  EXPECT_FALSE(DsdDecimation(2822401, &rate, &d));
  EXPECT_FALSE(DsdDecimation(63992, &rate, &d));
  EXPECT_FALSE(DsdDecimation(8 * 768001, &rate, &d));  // 768,001 is not 2 × 384,000
  EXPECT_TRUE(DsdDecimation(3072000, &rate, &d));
  EXPECT_EQ(rate, 384000U);
  EXPECT_EQ(d, 1U);
}

TEST(DsdToFloatTest, AllOnesGivePlusTwoThenTheClipGuardScalesToOne) {
  BufferSlot slot = DsdSlot(2822400, 100, 0xFF);
  ASSERT_EQ(DsdToFloat(slot, platform::StopWord{}), kOk);
  const AudioBuffer* out = slot.Get<AudioBuffer>();
  double peak = 0.0;
  for (std::int64_t i = 0; i < 100; ++i) {
    peak = std::max({peak, std::fabs(out->Frame(i)[0]), std::fabs(out->Frame(i)[1])});
  }
  EXPECT_NEAR(peak, 1.0, 1e-12);
  // Away from the ends every frame is the same +2.0, scaled by the one gain; near the ends the
  // window reaches into the 0xCC lead-in.
  const double interior = out->Frame(6)[0];
  EXPECT_GT(interior, 0.5);
  for (std::int64_t i = 6; i < 94; ++i) {
    ASSERT_NEAR(out->Frame(i)[0], interior, 1e-12) << i;
    ASSERT_NEAR(out->Frame(i)[1], interior, 1e-12) << i;
  }
  EXPECT_NE(out->Frame(0)[0], interior);
}

TEST(DsdToFloatTest, ChannelsStayApart) {
  BufferSlot slot = DsdSlot(11289600, 4099, ByteRamp(262, 7), ByteRamp(0, kDsdSilence));
  ASSERT_EQ(DsdToFloat(slot, platform::StopWord{}), kOk);
  const std::vector<double> out = lumaro::testing::RealSamples(slot);
  double leftEnergy = 0.0;
  for (std::size_t i = 0; i < out.size(); i += 2) {
    leftEnergy += out[i] * out[i];
    EXPECT_NEAR(out[i + 1], 0.0, 1e-12);  // the silent right channel
  }
  EXPECT_GT(leftEnergy, 1.0);
}

// A record of 32 MiB and more is filtered in its own block, grown to the AudioBuffer's size, in
// levels from the end back. Each frame depends only on the twelve byte pairs around it, so every
// frame must equal that frame filtered from a small record of the bytes around it alone (a new
// block). The bytes are scrambled (four one-bits each, so no clip guard scales either record).
// At DSD512 (four positions a frame) each level's first output lands within the window of the
// frame before the level's end when the window's reach is misjudged.
TEST(DsdToFloatTest, ALargeRecordFilteredInItsOwnBlockEqualsItsPiecesFilteredAlone) {
  const lumaro::testing::ScopedWorkerCount workers(3);
  std::vector<unsigned char> balanced;
  for (unsigned b = 0; b < 256; ++b) {
    if (std::popcount(b) == 4) balanced.push_back(static_cast<unsigned char>(b));
  }
  // Byte i of a channel, from byte `first` of the whole record on.
  const auto scrambled = [&balanced](unsigned salt, std::uint64_t first) {
    return [&balanced, salt, first](std::uint64_t i) {
      return balanced[(((first + i + salt) * 2654435761ULL) >> 13) % balanced.size()];
    };
  };
  constexpr std::uint32_t kRate = 22579200;
  constexpr std::uint64_t kDecimation = 4;
  constexpr std::uint64_t kFrames = 4'200'001;
  constexpr std::uint64_t kLength = kFrames * kDecimation + 3;  // a 34 MB DsdBuffer
  constexpr std::uint64_t kPieceFrames = 1 << 16;
  constexpr std::uint64_t kMargin = 8;  // byte pairs around a piece: its windows, whole frames
  BufferSlot slot = DsdSlot(kRate, kLength, scrambled(0, 0), scrambled(99, 0));
  ReleaseFreeBlocks();
  ASSERT_EQ(DsdToFloat(slot, platform::StopWord{}), kOk);
#ifndef _WIN32
  EXPECT_EQ(KeptFreeBytes(), 0U) << "a new block was taken and the record's freed";
#endif
  const AudioBuffer& all = *slot.Get<AudioBuffer>();
  ASSERT_EQ(all.frameCount, kFrames);
  std::uint64_t wrong = 0;
  for (std::uint64_t f = 0; f < kFrames; f += kPieceFrames) {
    const std::uint64_t first = f * kDecimation > kMargin ? f * kDecimation - kMargin : 0;
    const std::uint64_t end = std::min(kLength, (f + kPieceFrames) * kDecimation + kMargin);
    BufferSlot piece = DsdSlot(kRate, end - first, scrambled(0, first), scrambled(99, first));
    ASSERT_EQ(DsdToFloat(piece, platform::StopWord{}), kOk);
    const auto at = static_cast<std::int64_t>((f * kDecimation - first) / kDecimation);
    wrong +=
        std::memcmp(all.Frame(static_cast<std::int64_t>(f)), piece.Get<AudioBuffer>()->Frame(at),
                    std::min(kPieceFrames, kFrames - f) * kAudioFrameBytes) != 0;
  }
  EXPECT_EQ(wrong, 0U) << "pieces differing";
}

// Filtered a block at a time straight into the output record, a DSD track gives the bytes of
// DsdToFloat, ClipGuard and FloatToOutput run one after the other: with a peak beyond full scale
// (dense one-bits, both clip guards at work) and within it, with each decimation, on one worker
// and on three.
TEST(DsdToFloatTest, DsdToOutputGivesTheStagesBytes) {
  const auto dense = [](std::uint64_t i) -> unsigned char { return i % 3 == 0 ? 0xFF : 0xEE; };
  const auto quiet = [](std::uint64_t i) -> unsigned char { return i % 5 == 0 ? 0xCD : 0xCC; };
  const std::function<unsigned char(std::uint64_t)> signals[] = {dense, quiet};
  const std::tuple<std::uint32_t, bool, OutputFormat> cases[] = {
      {2822400, true, {24, 32, false}},
      {2822400, false, {16, 16, false}},
      {11289600, true, {32, 32, true}},
      {22579200, true, {24, 24, false}},
  };
  for (const unsigned workers : {1U, 3U}) {
    const lumaro::testing::ScopedWorkerCount count(workers);
    for (const auto& [rate, clipGuard, format] : cases) {
      for (const auto& signal : signals) {
        const std::uint64_t length = 150001;  // three output blocks and a part at D = 1
        platform::StopWord stop;
        BufferSlot staged = DsdSlot(rate, length, signal, ByteRamp(7));
        ASSERT_EQ(DsdToFloat(staged, stop), kOk);
        if (clipGuard) {
          ASSERT_EQ(ClipGuard(staged, stop), kOk);
        }
        ASSERT_EQ(
            FloatToOutput(staged, format.validBits, format.containerBits, format.asFloat, stop),
            kOk);
        BufferSlot fused = DsdSlot(rate, length, signal, ByteRamp(7));
        ASSERT_EQ(DsdToOutput(
                      fused, clipGuard, format, [] {}, stop),
                  kOk);
        const PcmBuffer& a = *staged.Get<PcmBuffer>();
        const PcmBuffer& b = *fused.Get<PcmBuffer>();
        ASSERT_EQ(a.frameCount, b.frameCount);
        const std::size_t bytes =
            sizeof(PcmBuffer) + (a.frameCount + 2 * a.leadIn) * a.BytesPerFrame();
        EXPECT_EQ(std::memcmp(&a, &b, bytes), 0) << rate << " " << workers;
      }
    }
  }
}

}  // namespace
}  // namespace lumaro::dsp
