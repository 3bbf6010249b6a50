#include "dsp/pcm_to_float.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "dsp/worker_count.h"

namespace lumaro::dsp {
namespace {

// A PcmBuffer of one layout holding `bytes` as its real frames.
BufferSlot PcmSlot(std::uint16_t format, std::uint8_t channels, std::uint8_t bits,
                   const std::vector<unsigned char>& bytes) {
  PcmBufferPtr pcm;
  const std::uint64_t frames = bytes.size() / (channels * bits / 8U);
  EXPECT_EQ(NewPcmBuffer(pcm, format, channels, bits, 44100, frames), kOk);
  if (!bytes.empty()) std::memcpy(pcm->Data(), bytes.data(), bytes.size());
  BufferSlot slot;
  slot.Put(std::move(pcm));
  return slot;
}

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

TEST(PcmToFloatTest, StereoKeepsChannelOrderAndWorkersAgree) {
  constexpr std::size_t kFrames = 1001;
  std::vector<unsigned char> bytes(kFrames * 2 * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 37);
  platform::StopWord stop;
  std::vector<double> results[2];
  for (unsigned workers : {1U, 3U}) {
    SetWorkerCountOverride(workers);
    BufferSlot slot = PcmSlot(kPcmInteger, 2, 24, bytes);
    ASSERT_EQ(PcmToFloat(slot, stop), kOk);
    const AudioBuffer* out = slot.Get<AudioBuffer>();
    results[workers == 3].assign(out->Frame(0), out->Frame(kFrames));
  }
  SetWorkerCountOverride(0);
  EXPECT_EQ(results[0], results[1]);
  // Frame 1's right sample is bytes 9..11.
  const std::int32_t word = (bytes[9] << 8) | (bytes[10] << 16) | (bytes[11] << 24);
  EXPECT_EQ(results[0][3], word / 2147483648.0);
}

TEST(PcmToFloatTest, RefusesWhatItCannotConvertAndFreesTheSource) {
  platform::StopWord stop;
  const std::vector<unsigned char> eight(8, 1);
  for (auto [format, bits] : {std::pair{kPcmInteger, 64}, std::pair{kPcmFloat, 16},
                              std::pair{kPcmFloat, 24}, std::pair{kPcmFloat, 8}}) {
    const std::vector<unsigned char> oneFrame(2 * bits / 8, 0x40);
    BufferSlot slot = PcmSlot(format, 2, static_cast<std::uint8_t>(bits), oneFrame);
    EXPECT_NE(PcmToFloat(slot, stop), kOk) << format << "/" << bits;
    EXPECT_TRUE(slot.Empty());
  }
  BufferSlot empty = PcmSlot(kPcmInteger, 2, 16, {});  // zero frames
  EXPECT_NE(PcmToFloat(empty, stop), kOk);
  EXPECT_TRUE(empty.Empty());
  BufferSlot none;
  EXPECT_NE(PcmToFloat(none, stop), kOk);

  stop.Store(1);
  BufferSlot stopped = PcmSlot(kPcmInteger, 2, 16, eight);
  EXPECT_NE(PcmToFloat(stopped, stop), kOk);
  EXPECT_TRUE(stopped.Empty());
}

}  // namespace
}  // namespace lumaro::dsp
