#include "decode/wav_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAreArray;

// Four frames of 16-bit stereo (or whatever the width makes of 16 bytes).
const Bytes kSixteenBytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

struct HeaderCase {
  const char* name;
  WavSpec spec;
  Bytes data;
  bool accepted;
  std::uint16_t format = 0;  // expected PcmBuffer fields when accepted
  std::uint8_t bits = 0;
  std::uint64_t frames = 0;
};

WavSpec Spec(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits,
             std::uint32_t rate = 44100) {
  WavSpec s;
  s.formatTag = tag;
  s.channels = channels;
  s.bits = bits;
  s.rate = rate;
  return s;
}

WavSpec Extensible(std::uint16_t container, std::uint16_t valid,
                   const std::array<unsigned char, 16>& subFormat, std::uint32_t size = 40) {
  WavSpec s = Spec(0xFFFE, 2, container);
  s.validBits = valid;
  s.subFormat = subFormat;
  s.formatSize = size;
  return s;
}

WavSpec WithChunks(WavSpec s, std::vector<Chunk> before, bool dataFirst) {
  s.before = std::move(before);
  s.dataFirst = dataFirst;
  return s;
}

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class WavHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(WavHeaderTest, AcceptsExactlyThePlainFormats) {
  const HeaderCase& c = GetParam();
  TempDir dir;
  const std::u16string path = dir.File(u"in.wav");
  ASSERT_TRUE(WriteFileBytes(path, MakeWav(c.spec, c.data)));
  dsp::BufferSlot slot;
  platform::StopWord stop;
  const Result result = decode::ReadWav(path, slot, stop);
  if (!c.accepted) {
    EXPECT_NE(result, kOk);
    EXPECT_TRUE(slot.Empty());
    return;
  }
  ASSERT_EQ(result, kOk);
  const dsp::PcmBuffer* b = slot.Get<dsp::PcmBuffer>();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->sampleFormat, c.format);
  EXPECT_EQ(b->bits, c.bits);
  EXPECT_EQ(b->channels, c.spec.channels);
  EXPECT_EQ(b->sampleRate, c.spec.rate);
  EXPECT_EQ(b->frameCount, c.frames);
  EXPECT_EQ(b->leadIn, 48U);
}

const Chunk kPadding28{"PAD ", Bytes(28, 0xEE), std::nullopt};
const Chunk kOddList{"LIST", Bytes(3, 0xEE), std::nullopt};

INSTANTIATE_TEST_SUITE_P(
    Formats, WavHeaderTest,
    ::testing::Values(
        HeaderCase{"Pcm8Mono", Spec(1, 1, 8), kSixteenBytes, true, 1, 8, 16},
        HeaderCase{"Pcm16", Spec(1, 2, 16), kSixteenBytes, true, 1, 16, 4},
        HeaderCase{"Pcm24", Spec(1, 2, 24), Bytes(18), true, 1, 24, 3},
        HeaderCase{"Pcm32", Spec(1, 2, 32), kSixteenBytes, true, 1, 32, 2},
        HeaderCase{"Float32", Spec(3, 2, 32), kSixteenBytes, true, 3, 32, 2},
        HeaderCase{"Float64Mono", Spec(3, 1, 64), kSixteenBytes, true, 3, 64, 2},
        HeaderCase{"TrailingPartialFrame", Spec(1, 2, 16), Bytes(19), true, 1, 16, 4},
        HeaderCase{"ExtensiblePcm24In32", Extensible(32, 24, kWavSubFormatPcm), kSixteenBytes,
                   true, 1, 24, 2},
        HeaderCase{"ExtensibleFloat64", Extensible(64, 64, kWavSubFormatFloat), kSixteenBytes,
                   true, 3, 64, 1},
        HeaderCase{"PaddingChunkFirst", WithChunks(Spec(1, 2, 16), {kPadding28}, false),
                   kSixteenBytes, true, 1, 16, 4},
        HeaderCase{"DataBeforeFormat", WithChunks(Spec(1, 2, 16), {kOddList}, true),
                   kSixteenBytes, true, 1, 16, 4},
        HeaderCase{"Pcm12Bits", Spec(1, 2, 12), kSixteenBytes, false},
        HeaderCase{"ThreeChannels", Spec(1, 3, 16), Bytes(24), false},
        HeaderCase{"Rate4000", Spec(1, 2, 16, 4000), kSixteenBytes, false},
        HeaderCase{"Float8", Spec(3, 2, 8), kSixteenBytes, false},
        HeaderCase{"Float16", Spec(3, 2, 16), kSixteenBytes, false},
        HeaderCase{"AdpcmTag2", Spec(2, 2, 4), kSixteenBytes, false},
        HeaderCase{"Mp3Tag55", Spec(0x55, 2, 16), kSixteenBytes, false},
        HeaderCase{"ExtensibleFormatSize16", Extensible(16, 16, kWavSubFormatPcm, 16),
                   kSixteenBytes, false},
        HeaderCase{"ExtensibleFormatSize18", Extensible(16, 16, kWavSubFormatPcm, 18),
                   kSixteenBytes, false},
        HeaderCase{"ExtensibleValidAboveContainer", Extensible(16, 24, kWavSubFormatPcm),
                   kSixteenBytes, false},
        HeaderCase{"ExtensibleOddSubFormat", Extensible(16, 16, {0x02}), kSixteenBytes, false},
        HeaderCase{"ExtensibleFloatValid24", Extensible(32, 24, kWavSubFormatFloat),
                   kSixteenBytes, false},
        HeaderCase{"FormatSize20", [] {
                     WavSpec s = Spec(1, 2, 16);
                     s.formatSize = 20;
                     return s;
                   }(),
                   kSixteenBytes, false},
        HeaderCase{"EmptyData", Spec(1, 2, 16), Bytes{}, false},
        HeaderCase{"DataPastTheEnd", [] {
                     WavSpec s = Spec(1, 2, 16);
                     s.dataSize = 4000;
                     return s;
                   }(),
                   kSixteenBytes, false},
        HeaderCase{"DataBelowOneFrame", Spec(1, 2, 24), Bytes(5), false}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

class WavReaderTest : public ::testing::Test {
 protected:
  Result Read(const Bytes& file) {
    path_ = dir_.File(u"in.wav");
    EXPECT_TRUE(WriteFileBytes(path_, file));
    return decode::ReadWav(path_, slot_, stop_);
  }
  std::vector<unsigned char> Samples() const {
    const dsp::PcmBuffer* b = slot_.Get<dsp::PcmBuffer>();
    return {b->Data(), b->Data() + b->DataSize()};
  }

  TempDir dir_;
  std::u16string path_;
  dsp::BufferSlot slot_;
  platform::StopWord stop_;
};

TEST_F(WavReaderTest, SamplesLandAfterTheLeadInAndTheRestStaysZero) {
  ASSERT_EQ(Read(MakeWav(Spec(1, 2, 16), kSixteenBytes)), kOk);
  EXPECT_THAT(Samples(), ElementsAreArray(kSixteenBytes));
  const dsp::PcmBuffer* b = slot_.Get<dsp::PcmBuffer>();
  EXPECT_EQ(b->Samples()[48 * 4 - 1], 0);
  EXPECT_EQ(b->Data()[16], 0);
}

TEST_F(WavReaderTest, NarrowerValidBitsKeepTheHighBytesOfEveryContainer) {
  // 24 valid bits in 32-bit containers: the low byte of each container is dropped.
  const Bytes data = {0xA0, 1, 2, 3, 0xA1, 4, 5, 6, 0xA2, 7, 8, 9, 0xA3, 10, 11, 12};
  ASSERT_EQ(Read(MakeWav(Extensible(32, 24, kWavSubFormatPcm), data)), kOk);
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
  ASSERT_EQ(Read(MakeWav(Extensible(24, 16, kWavSubFormatPcm), data)), kOk);
  const dsp::PcmBuffer* b = slot_.Get<dsp::PcmBuffer>();
  ASSERT_EQ(b->frameCount, kContainers / 2);
  for (std::size_t i : {std::size_t{0}, std::size_t{3'495'252}, kContainers - 1}) {
    EXPECT_EQ(b->Data()[2 * i], static_cast<unsigned char>(i)) << i;
    EXPECT_EQ(b->Data()[2 * i + 1], static_cast<unsigned char>(i >> 8)) << i;
  }
}

TEST_F(WavReaderTest, RefusesFilesThatAreNotRiffWave) {
  Bytes rf64 = MakeWav(Spec(1, 2, 16), kSixteenBytes);
  std::copy_n("RF64", 4, rf64.begin());
  EXPECT_NE(Read(rf64), kOk);
  Bytes avi = MakeWav(Spec(1, 2, 16), kSixteenBytes);
  std::copy_n("AVI ", 4, avi.begin() + 8);
  EXPECT_NE(Read(avi), kOk);
  EXPECT_NE(Read(Bytes{'R', 'I', 'F', 'F'}), kOk);
  EXPECT_NE(decode::ReadWav(dir_.File(u"missing.wav"), slot_, stop_), kOk);
  EXPECT_TRUE(slot_.Empty());
}

TEST_F(WavReaderTest, StopRequestFails) {
  stop_.Store(1);
  EXPECT_NE(Read(MakeWav(Spec(1, 2, 16), kSixteenBytes)), kOk);
  EXPECT_TRUE(slot_.Empty());
}

}  // namespace
}  // namespace lumaro::testing
