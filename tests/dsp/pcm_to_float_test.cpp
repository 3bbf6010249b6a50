#include "dsp/pcm_to_float.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::PcmSlot;

template <class T>
std::vector<unsigned char> Bytes(T value, unsigned width = sizeof(T)) {
  std::vector<unsigned char> out(width);
  std::memcpy(out.data(), &value, width);
  return out;
}

struct ValueCase {
  std::uint16_t format;
  std::uint8_t bits;
  std::vector<unsigned char> sample;  // one mono sample
  double expected;
};

class PcmValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(PcmValueTest, ConvertsExactlyToBothChannels) {
  const ValueCase& c = GetParam();
  BufferSlot slot = PcmSlot(c.format, 1, c.bits, c.sample);
  platform::StopWord stop;
  ASSERT_EQ(PcmToFloat(slot, stop), kOk);
  const AudioBuffer* out = slot.Get<AudioBuffer>();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->frameCount, 1U);
  EXPECT_EQ(out->leadIn, 48U);
  EXPECT_EQ(out->sampleRate, 44100U);
  EXPECT_EQ(out->Frame(0)[0], c.expected);
  EXPECT_EQ(out->Frame(0)[1], c.expected);
}

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Widths, PcmValueTest,
    ::testing::Values(ValueCase{kPcmInteger, 8, {0}, -1.0}, ValueCase{kPcmInteger, 8, {128}, 0.0},
                      ValueCase{kPcmInteger, 8, {255}, 0.9921875},
                      ValueCase{kPcmInteger, 16, Bytes<std::int16_t>(-32768), -1.0},
                      ValueCase{kPcmInteger, 16, Bytes<std::int16_t>(32767), 0.999969482421875},
                      ValueCase{kPcmInteger, 24, Bytes<std::int32_t>(8388607, 3),
                                0.99999988079071045},
                      ValueCase{kPcmInteger, 24, Bytes<std::int32_t>(-8388608, 3), -1.0},
                      ValueCase{kPcmInteger, 24, Bytes<std::int32_t>(-1, 3), -1.0 / 8388608},
                      ValueCase{kPcmInteger, 32, Bytes<std::int32_t>(INT32_MIN), -1.0},
                      ValueCase{kPcmInteger, 32, Bytes<std::int32_t>(1 << 30), 0.5},
                      ValueCase{kPcmFloat, 32, Bytes<float>(1.5F), 1.5},
                      ValueCase{kPcmFloat, 32, Bytes<float>(-kInf), 0.0},
                      ValueCase{kPcmFloat, 64, Bytes<double>(-2.25), -2.25},
                      ValueCase{kPcmFloat, 64, Bytes<double>(kNan), 0.0}));

TEST(PcmToFloatTest, StereoKeepsChannelOrder) {
  std::vector<unsigned char> bytes(2 * 2 * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 37);
  BufferSlot slot = PcmSlot(kPcmInteger, 2, 24, bytes);
  ASSERT_EQ(PcmToFloat(slot, platform::StopWord{}), kOk);
  // Frame 1's right sample is bytes 9..11.
  const std::int32_t word = (bytes[9] << 8) | (bytes[10] << 16) | (bytes[11] << 24);
  EXPECT_EQ(slot.Get<AudioBuffer>()->Frame(1)[1], word / 2147483648.0);
}

}  // namespace
}  // namespace lumaro::dsp
