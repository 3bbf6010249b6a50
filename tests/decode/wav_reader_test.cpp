#include "decode/wav_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAreArray;

// Four frames of 16-bit stereo (or whatever the width makes of 16 bytes).
const Bytes k16 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr std::uint16_t kExt = 0xFFFE;
constexpr auto kFloatSub = kWavSubFormatFloat;

class WavReaderTest : public ::testing::Test {
 protected:
  Result Read(const Bytes& file) {
    return decode::ReadWav(dir_.Write(u"in.wav", file), slot_, stop_);
  }
  std::vector<unsigned char> Samples() const {
    const dsp::PcmBuffer* b = slot_.Get<dsp::PcmBuffer>();
    return {b->Data(), b->Data() + b->DataSize()};
  }

  TempDir dir_;
  dsp::BufferSlot slot_;
  platform::StopWord stop_;
};

TEST_F(WavReaderTest, AcceptsExactlyThePlainFormats) {
  const Chunk padding28{"PAD ", Bytes(28, 0xEE), std::nullopt};
  const Chunk oddList{"LIST", Bytes(3, 0xEE), std::nullopt};
  struct Case {
    const char* name;
    WavSpec spec;
    Bytes data;
    std::uint16_t format = 0;  // expected PcmBuffer fields; format 0: refused
    std::uint8_t bits = 0;
    std::uint64_t frames = 0;
  } const cases[] = {
      {"Pcm8Mono", {.channels = 1, .bits = 8}, k16, 1, 8, 16},
      {"Pcm16", {}, k16, 1, 16, 4},
      {"Pcm24", {.bits = 24}, Bytes(18), 1, 24, 3},
      {"Pcm32", {.bits = 32}, k16, 1, 32, 2},
      {"Float32", {.formatTag = 3, .bits = 32}, k16, 3, 32, 2},
      {"Float64Mono", {.formatTag = 3, .channels = 1, .bits = 64}, k16, 3, 64, 2},
      {"TrailingPartialFrame", {}, Bytes(19), 1, 16, 4},
      {"ExtensiblePcm24In32", {.formatTag = kExt, .bits = 32, .validBits = 24}, k16, 1, 24, 2},
      {"ExtensibleFloat64", {.formatTag = kExt, .bits = 64, .subFormat = kFloatSub}, k16, 3, 64, 1},
      {"PaddingChunkFirst", {.before = {padding28}}, k16, 1, 16, 4},
      {"DataBeforeFormat", {.before = {oddList}, .dataFirst = true}, k16, 1, 16, 4},
      {"Pcm12Bits", {.bits = 12}, k16},
      {"ThreeChannels", {.channels = 3}, Bytes(24)},
      {"Rate4000", {.rate = 4000}, k16},
      {"Float8", {.formatTag = 3, .bits = 8}, k16},
      {"Float16", {.formatTag = 3}, k16},
      {"AdpcmTag2", {.formatTag = 2, .bits = 4}, k16},
      {"Mp3Tag55", {.formatTag = 0x55}, k16},
      {"ExtensibleFormatSize16", {.formatTag = kExt, .formatSize = 16}, k16},
      {"ExtensibleFormatSize18", {.formatTag = kExt, .formatSize = 18}, k16},
      {"ExtensibleValidAboveContainer", {.formatTag = kExt, .validBits = 24}, k16},
      {"ExtensibleOddSubFormat", {.formatTag = kExt, .subFormat = {0x02}}, k16},
      {"ExtensibleFloatValid24", {kExt, 2, 44100, 32, 24, kFloatSub}, k16},
      {"FormatSize20", {.formatSize = 20}, k16},
      {"EmptyData", {}, {}},
      {"DataPastTheEnd", {.dataSize = 4000}, k16},
      {"DataBelowOneFrame", {.bits = 24}, Bytes(5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result result = Read(MakeWav(c.spec, c.data));
    if (c.format == 0) {
      EXPECT_NE(result, kOk);
      EXPECT_TRUE(slot_.Empty());
      continue;
    }
    ASSERT_EQ(result, kOk);
    const dsp::PcmBuffer* b = slot_.Get<dsp::PcmBuffer>();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->sampleFormat, c.format);
    EXPECT_EQ(b->bits, c.bits);
    EXPECT_EQ(b->channels, c.spec.channels);
    EXPECT_EQ(b->sampleRate, c.spec.rate);
    EXPECT_EQ(b->frameCount, c.frames);
    EXPECT_EQ(b->leadIn, 48U);
  }
}

TEST_F(WavReaderTest, SamplesLandAfterTheLeadInAndTheRestStaysZero) {
  ASSERT_EQ(Read(MakeWav({}, k16)), kOk);
  EXPECT_THAT(Samples(), ElementsAreArray(k16));
  const dsp::PcmBuffer* b = slot_.Get<dsp::PcmBuffer>();
  EXPECT_EQ(b->Samples()[48 * 4 - 1], 0);
  EXPECT_EQ(b->Data()[16], 0);
  // 24 valid bits in 32-bit containers: the low byte of each container is dropped.
  const Bytes data = {0xA0, 1, 2, 3, 0xA1, 4, 5, 6, 0xA2, 7, 8, 9, 0xA3, 10, 11, 12};
  ASSERT_EQ(Read(MakeWav({.formatTag = kExt, .bits = 32, .validBits = 24}, data)), kOk);
  EXPECT_THAT(Samples(), ElementsAreArray({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST_F(WavReaderTest, RepacksAcrossManyReadBlocks) {
  // 16 valid bits in 24-bit containers, more than one 10 MiB block of data.
  constexpr std::size_t kContainers = 4'000'000;
  Bytes data(kContainers * 3);
  for (std::size_t i = 0; i < kContainers; ++i) {
    data[3 * i] = 0xEE;
    data[3 * i + 1] = static_cast<unsigned char>(i);
    data[3 * i + 2] = static_cast<unsigned char>(i >> 8);
  }
  ASSERT_EQ(Read(MakeWav({.formatTag = kExt, .bits = 24, .validBits = 16}, data)), kOk);
  const dsp::PcmBuffer* b = slot_.Get<dsp::PcmBuffer>();
  ASSERT_EQ(b->frameCount, kContainers / 2);
  for (std::size_t i : {std::size_t{0}, std::size_t{3'495'252}, kContainers - 1}) {
    EXPECT_EQ(b->Data()[2 * i], static_cast<unsigned char>(i)) << i;
    EXPECT_EQ(b->Data()[2 * i + 1], static_cast<unsigned char>(i >> 8)) << i;
  }
}

TEST_F(WavReaderTest, RefusesFilesThatAreNotRiffWaveAndStops) {
  Bytes rf64 = MakeWav({}, k16), avi = rf64;
  std::copy_n("RF64", 4, rf64.begin());
  std::copy_n("AVI ", 4, avi.begin() + 8);
  EXPECT_NE(Read(rf64), kOk);
  EXPECT_NE(Read(avi), kOk);
  EXPECT_NE(Read(Bytes{'R', 'I', 'F', 'F'}), kOk);
  EXPECT_NE(decode::ReadWav(dir_.File(u"missing.wav"), slot_, stop_), kOk);
  stop_.Store(1);
  EXPECT_NE(Read(MakeWav({}, k16)), kOk);
  EXPECT_TRUE(slot_.Empty());
}

}  // namespace
}  // namespace lumaro::testing
