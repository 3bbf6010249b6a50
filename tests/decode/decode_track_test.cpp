#include "decode/decode_track.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <locale.h>

#include "platform/headless/headless_dialog.h"
#include "resources/control_ids.h"
#include "tests/support/audio_files.h"
#include "tests/support/fake_memory_status.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr char16_t kBuiltIn[] = u"Reading with built-in decoder ...";
constexpr char16_t kConverting[] = u"Converting to 64bit float ...";
constexpr char16_t kPlatform[] = u"Reading with Media Foundation ...";
constexpr char16_t kReadFailed[] = u"ERROR: read failed";

class DecodeTrackTest : public ::testing::Test {
 protected:
  DecodeTrackTest() {
    app_.MainWindow = &window_;
    request_.App = &app_;
  }

  Result Decode(const std::u16string& path) {
    path_ = path;
    request_.TrackPath = &path_;
    return decode::DecodeTrack(request_);
  }
  std::u16string Write(std::u16string_view name, const Bytes& bytes) {
    const std::u16string path = dir_.File(name);
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }
  std::vector<std::u16string> Statuses() const {
    return window_.TextHistory(resources::kIdStatusLine);
  }

  TempDir dir_;
  context::AppContext app_;
  platform::ui::HeadlessDialog window_;
  context::PlayRequest request_;
  std::u16string path_;
};

TEST_F(DecodeTrackTest, WavIsReadConvertedAndDescribed) {
  WavSpec spec;
  spec.channels = 1;
  spec.bits = 24;
  spec.rate = 96000;
  ASSERT_EQ(Decode(Write(u"a.flac", MakeWav(spec, PackLe({0x7FFFFF, -0x800000}, 24)))), kOk);
  EXPECT_THAT(Statuses(), ElementsAre(kBuiltIn, kConverting));
  const dsp::AudioBuffer* audio = request_.Buffer.Get<dsp::AudioBuffer>();
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->frameCount, 2U);
  EXPECT_EQ(audio->Frame(1)[1], -1.0);
  EXPECT_EQ(request_.IsDsd, 0U);
  EXPECT_EQ(request_.DecodedKind, context::kKindInteger);
  EXPECT_EQ(request_.DecodedBits, 24U);
  EXPECT_EQ(request_.DecodedRate, 96000U);

  spec.formatTag = 3;
  spec.bits = 32;
  ASSERT_EQ(Decode(Write(u"f.wav", MakeWav(spec, PackLe({0x3FC00000}, 32)))), kOk);
  EXPECT_EQ(request_.DecodedKind, context::kKindFloat);
  EXPECT_EQ(request_.Buffer.Get<dsp::AudioBuffer>()->Frame(0)[0], 1.5);
}

TEST_F(DecodeTrackTest, DsdFilesAreReadWhateverTheirName) {
  const std::vector<Bytes> channels = {Bytes(100, 0x96), Bytes(100, 0x69)};
  DsfSpec dsf;
  dsf.rate = 11289600;
  ASSERT_EQ(Decode(Write(u"dsf.wav", MakeDsf(dsf, channels))), kOk);
  EXPECT_THAT(Statuses(), ElementsAre(kBuiltIn, kBuiltIn));
  EXPECT_EQ(request_.IsDsd, 1U);
  EXPECT_EQ(request_.DecodedKind, context::kKindInteger);
  EXPECT_EQ(request_.DecodedBits, 1U);
  EXPECT_EQ(request_.DecodedRate, 11289600U);
  EXPECT_EQ(request_.Buffer.Get<dsp::DsdBuffer>()->length, 100U);

  ASSERT_EQ(Decode(Write(u"x.dff", MakeDsdiff({}, channels))), kOk);
  EXPECT_EQ(request_.DecodedRate, 2822400U);
  EXPECT_EQ(request_.Buffer.Get<dsp::DsdBuffer>()->Data()[0], 0x96);
  EXPECT_EQ(request_.Buffer.Get<dsp::DsdBuffer>()->Data()[1], 0x69);
}

struct ChainCase {
  const char* name;
  std::u16string file;  // name in the temporary directory; "" = the directory itself
  bool write = true;    // false: the file does not exist
  bool fourChannelWav = false;
  std::function<void(context::AppContext&)> settings;
  std::vector<std::u16string> statuses;
};

class DecodeChainTest : public DecodeTrackTest, public ::testing::WithParamInterface<ChainCase> {};

TEST_P(DecodeChainTest, ShowsEveryAttemptAndFailsWithItsText) {
  const ChainCase& c = GetParam();
  if (c.settings) c.settings(app_);
  std::u16string path = c.file.empty() ? dir_.Path() : dir_.File(c.file);
  if (c.write && !c.file.empty()) {
    WavSpec fourChannels;
    fourChannels.channels = 4;
    const Bytes content = c.fourChannelWav ? MakeWav(fourChannels, Bytes(64)) : Bytes(64, 'x');
    ASSERT_TRUE(WriteFileBytes(path, content));
  }
  EXPECT_NE(Decode(path), kOk);
  EXPECT_THAT(Statuses(), ElementsAreArray(c.statuses));
  EXPECT_TRUE(request_.Buffer.Empty());
}

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::u16string> kDownTheChain = {kBuiltIn, kBuiltIn, kBuiltIn, kPlatform,
                                                   kReadFailed};

INSTANTIATE_TEST_SUITE_P(
    Order, DecodeChainTest,
    ::testing::Values(
        ChainCase{"Missing", u"none.wav", false, false, {}, {u"ERROR: path not found"}},
        ChainCase{"Directory", u"", true, false, {}, {u"ERROR: directory path"}},
        ChainCase{"UnknownContent", u"x.mp3", true, false, {}, kDownTheChain},
        ChainCase{
            "FourChannelWavGoesToFfmpeg",
            u"x.wav",
            true,
            true,
            [](context::AppContext& a) { a.UseFfmpeg = 1; },
            {kBuiltIn, kBuiltIn, kBuiltIn, u"Reading with FFmpeg ...", kPlatform, kReadFailed}},
        ChainCase{
            "MidiWithoutFluidsynthGoesDownTheChain", u"x.mid", true, false, {}, kDownTheChain},
        ChainCase{"MidiWithFluidsynthTriesNothingElse",
                  u"x.MID",
                  true,
                  false,
                  [](context::AppContext& a) { a.UseFluidsynth = 1; },
                  {u"Reading with Fluidsynth ...", kReadFailed}},
        ChainCase{"WinfmpFile",
                  u"x.ovi",
                  true,
                  false,
                  [](context::AppContext& a) { a.UseWinfmp = 1; },
                  {u"Reading with WinFMP ...", kReadFailed}},
        ChainCase{"PmdwinFile",
                  u"x.M2",
                  true,
                  false,
                  [](context::AppContext& a) { a.UsePmdwin = 1; },
                  {u"Reading with PMDWin ...", kReadFailed}},
        ChainCase{"PmdwinOffLeavesTheFileToTheChain", u"x.mz", true, false, {}, kDownTheChain},
        ChainCase{"StopEndsWithoutText",
                  u"x.wav",
                  true,
                  false,
                  [](context::AppContext& a) { a.PlayCommand = 1; },
                  {}}),
    [](const ::testing::TestParamInfo<ChainCase>& info) { return info.param.name; });

// A WAV the reader takes but whose float copy the memory guard refuses goes on down the chain.
TEST_F(DecodeTrackTest, AWavWhoseConversionFailsGoesOnDownTheChain) {
  WavSpec spec;
  spec.channels = 1;
  const std::u16string path = Write(u"big.wav", MakeWav(spec, Bytes(2'000'000)));
  constexpr std::uint64_t kGuardReserve = 128ULL << 20;
  // Room for the 10 MiB read block and the 2 MB of samples, not for the 16 MB float copy.
  FakeMemoryStatus memory(kGuardReserve + (12ULL << 20));
  EXPECT_NE(Decode(path), kOk);
  EXPECT_THAT(Statuses(),
              ElementsAre(kBuiltIn, kConverting, kBuiltIn, kBuiltIn, kPlatform, kReadFailed));
  EXPECT_TRUE(request_.Buffer.Empty());
}

TEST_F(DecodeTrackTest, FmMusicPathOutsideTheCodePageFailsBeforeAnyReader) {
  const locale_t ascii = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
  const locale_t previous = uselocale(ascii);
  app_.UseWinfmp = 1;
  const std::u16string path = Write(u"caf\u00e9.ozi", Bytes(16));
  EXPECT_NE(Decode(path), kOk);
  uselocale(previous);
  freelocale(ascii);
  EXPECT_THAT(Statuses(),
              ElementsAre(u"Reading with WinFMP ...", u"ERROR: Non-ANSI characters in filename"));
}

}  // namespace
}  // namespace lumaro::testing
