#include "dsp/pcm_to_float.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::PcmSlot;

// The first `width` bytes of `value` as it lies in memory (little-endian).
template <class T>
std::vector<unsigned char> Le(T value, unsigned width = sizeof(T)) {
  std::vector<unsigned char> out(width);
  std::memcpy(out.data(), &value, width);
  return out;
}

TEST(PcmToFloatTest, ConvertsOneSampleExactlyToBothChannels) {
  // Format, bits, one mono sample, its value.
  const std::tuple<std::uint16_t, std::uint8_t, std::vector<unsigned char>, double> cases[] = {
      {kPcmInteger, 8, {0}, -1.0},
      {kPcmInteger, 8, {128}, 0.0},
      {kPcmInteger, 8, {255}, 0.9921875},
      {kPcmInteger, 16, Le<std::int16_t>(-32768), -1.0},
      {kPcmInteger, 16, Le<std::int16_t>(32767), 0.999969482421875},
      {kPcmInteger, 24, Le<std::int32_t>(8388607, 3), 0.99999988079071045},
      {kPcmInteger, 24, Le<std::int32_t>(-8388608, 3), -1.0},
      {kPcmInteger, 24, Le<std::int32_t>(-1, 3), -1.0 / 8388608},
      {kPcmInteger, 32, Le<std::int32_t>(INT32_MIN), -1.0},
      {kPcmInteger, 32, Le<std::int32_t>(1 << 30), 0.5},
      {kPcmFloat, 32, Le<float>(1.5F), 1.5},
      {kPcmFloat, 32, Le<float>(-INFINITY), 0.0},
      {kPcmFloat, 64, Le<double>(-2.25), -2.25},
      {kPcmFloat, 64, Le<double>(NAN), 0.0}};
  for (const auto& [format, bits, sample, expected] : cases) {
    SCOPED_TRACE(::testing::Message() << int{bits} << "-bit, expecting " << expected);
    BufferSlot slot = PcmSlot(format, 1, bits, sample);
    ASSERT_EQ(PcmToFloat(slot, platform::StopWord{}), kOk);
    const AudioBuffer* out = slot.Get<AudioBuffer>();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->frameCount, 1U);
    EXPECT_EQ(out->leadIn, 48U);
    EXPECT_EQ(out->sampleRate, 44100U);
    EXPECT_EQ(out->Frame(0)[0], expected);
    EXPECT_EQ(out->Frame(0)[1], expected);
  }
}

TEST(PcmToFloatTest, StereoKeepsChannelOrder) {
  const std::vector<unsigned char> bytes = lumaro::testing::RampBytes(2 * 2 * 3, 37);
  BufferSlot slot = PcmSlot(kPcmInteger, 2, 24, bytes);
  ASSERT_EQ(PcmToFloat(slot, platform::StopWord{}), kOk);
  // Frame 1's right sample is bytes 9..11.
  const std::int32_t word = (bytes[9] << 8) | (bytes[10] << 16) | (bytes[11] << 24);
  EXPECT_EQ(slot.Get<AudioBuffer>()->Frame(1)[1], word / 2147483648.0);
}

// Long stereo records go four frames at a time through the processor's vector unit where it has
// one, short mono ones sample by sample: every sample of a long record (with a tail of three
// frames) must equal the same bytes converted alone.
TEST(PcmToFloatTest, LongStereoRecordsEqualTheirSamplesConvertedOneByOne) {
  // 1e-40 is below the smallest normal float, 1e-310 below the smallest normal double.
  const std::vector<double> floats = {1.5, -INFINITY, NAN, -0.0, 1e-310, INFINITY, -1e-40, 0.25};
  const std::tuple<std::uint16_t, std::uint8_t> layouts[] = {
      {kPcmInteger, 16}, {kPcmInteger, 24}, {kPcmInteger, 32}, {kPcmFloat, 32}, {kPcmFloat, 64}};
  constexpr std::size_t kFrames = 11;
  for (const auto& [format, bits] : layouts) {
    SCOPED_TRACE(::testing::Message() << format << "/" << int{bits});
    const unsigned width = bits / 8U;
    // Integers: bytes that sweep every value of each byte position; floats: special values.
    std::vector<unsigned char> bytes = lumaro::testing::RampBytes(2 * kFrames * width, 97, 128);
    for (std::size_t i = 0; format == kPcmFloat && i < 2 * kFrames; ++i) {
      const double value = floats[i % floats.size()];
      if (bits == 32) std::memcpy(&bytes[i * 4], Le<float>(static_cast<float>(value)).data(), 4);
      if (bits == 64) std::memcpy(&bytes[i * 8], &value, 8);
    }
    BufferSlot slot = PcmSlot(format, 2, bits, bytes);
    ASSERT_EQ(PcmToFloat(slot, platform::StopWord{}), kOk);
    const std::vector<double> out = lumaro::testing::RealSamples(slot);
    ASSERT_EQ(out.size(), 2 * kFrames);
    for (std::size_t i = 0; i < out.size(); ++i) {
      BufferSlot one = PcmSlot(format, 1, bits, {&bytes[i * width], &bytes[(i + 1) * width]});
      ASSERT_EQ(PcmToFloat(one, platform::StopWord{}), kOk);
      const double alone = one.Get<AudioBuffer>()->Frame(0)[0];
      EXPECT_EQ(std::memcmp(&out[i], &alone, sizeof alone), 0) << "sample " << i;
    }
  }
}

// A record large enough to grow is converted in its own block from the last frame back: every
// sample must equal the same bytes converted in small records, each in a block of its own.
TEST(PcmToFloatTest, LargeRecordsConvertedInTheirOwnBlockEqualSmallOnes) {
  constexpr std::uint64_t kBytes = 33 << 20;  // past the size from which a block can grow
  constexpr std::uint64_t kPiece = 4096;      // frames of each small record
  const std::tuple<std::uint16_t, std::uint8_t, std::uint8_t> layouts[] = {
      {kPcmInteger, 2, 24}, {kPcmFloat, 1, 64}, {kPcmFloat, 2, 32}};
  for (const auto& [format, channels, bits] : layouts) {
    SCOPED_TRACE(::testing::Message() << format << "/" << int{channels} << "/" << int{bits});
    const std::uint64_t frameBytes = channels * bits / 8U;
    // Bytes that sweep every value, but floats kept finite (their top byte below 0x40).
    std::vector<unsigned char> bytes(kBytes / frameBytes * frameBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const bool exponent = format == kPcmFloat && i % (bits / 8U) == bits / 8U - 1U;
      bytes[i] = static_cast<unsigned char>((3 + 251 * i) & (exponent ? 0x3F : 0xFF));
    }
    BufferSlot slot = PcmSlot(format, channels, bits, bytes);
    ASSERT_EQ(PcmToFloat(slot, platform::StopWord{}), kOk);
    const AudioBuffer& whole = *slot.Get<AudioBuffer>();
    ASSERT_EQ(whole.frameCount, bytes.size() / frameBytes);
    for (std::uint64_t first = 0; first < whole.frameCount; first += kPiece) {
      const std::uint64_t count = std::min(kPiece, whole.frameCount - first);
      BufferSlot piece = PcmSlot(
          format, channels, bits,
          {bytes.begin() + first * frameBytes, bytes.begin() + (first + count) * frameBytes});
      ASSERT_EQ(PcmToFloat(piece, platform::StopWord{}), kOk);
      ASSERT_EQ(std::memcmp(whole.Frame(static_cast<std::int64_t>(first)),
                            piece.Get<AudioBuffer>()->Frame(0), count * kAudioFrameBytes),
                0)
          << "frames from " << first;
    }
  }
}

// Stereo 64-bit float becomes the AudioBuffer in its own block: the values of a conversion
// (not-a-number and infinities as 0.0) and lead-ins filled as a new record's.
TEST(PcmToFloatTest, StereoDoublesAreConvertedInTheirOwnBlock) {
  const std::vector<double> samples = {0.5, -2.25, NAN, INFINITY, -0.0, 1e-300};
  std::vector<unsigned char> bytes(samples.size() * 8);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  BufferSlot slot = PcmSlot(kPcmFloat, 2, 64, bytes, 96000);
  const void* block = slot.Get<PcmBuffer>();
  ASSERT_EQ(PcmToFloat(slot, platform::StopWord{}), kOk);
  const AudioBuffer* out = slot.Get<AudioBuffer>();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(static_cast<const void*>(out), block);
  EXPECT_EQ(out->sampleRate, 96000U);
  EXPECT_EQ(out->frameCount, 3U);
  const std::vector<double> expected = {0.5, -2.25, 0.0, 0.0, -0.0, 1e-300};
  EXPECT_EQ(std::memcmp(out->Frame(0), expected.data(), expected.size() * 8), 0);
  const auto* lead = reinterpret_cast<const unsigned char*>(out->Frame(-48));
  const auto* tail = reinterpret_cast<const unsigned char*>(out->Frame(3));
  for (std::size_t i = 0; i < 48 * kAudioFrameBytes; ++i) {
    ASSERT_EQ(lead[i], kAudioBufferFill) << i;
    ASSERT_EQ(tail[i], kAudioBufferFill) << i;
  }
}

}  // namespace
}  // namespace lumaro::dsp
