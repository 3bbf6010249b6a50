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
// The platform decoder's text, and the float width it reports for integer samples: Media
// Foundation delivers 32-bit floats, libsndfile's integers are converted to 64-bit.
#ifdef _WIN32
constexpr char16_t kPlatform[] = u"Reading with Media Foundation ...";
constexpr std::uint32_t kPlatformIntegerBits = 32;
#else
constexpr char16_t kPlatform[] = u"Reading with libsndfile ...";
constexpr std::uint32_t kPlatformIntegerBits = 64;
#endif
constexpr char16_t kFfmpeg[] = u"Reading with FFmpeg ...";
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
  WavSpec spec{.channels = 1, .rate = 96000, .bits = 24};
  ASSERT_EQ(Decode(dir_.Write(u"a.flac", MakeWav(spec, PackLe({0x7FFFFF, -0x800000}, 24)))), kOk);
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
  ASSERT_EQ(Decode(dir_.Write(u"f.wav", MakeWav(spec, PackLe({0x3FC00000}, 32)))), kOk);
  EXPECT_EQ(request_.DecodedKind, context::kKindFloat);
  EXPECT_EQ(request_.Buffer.Get<dsp::AudioBuffer>()->Frame(0)[0], 1.5);
}

TEST_F(DecodeTrackTest, DsdFilesAreReadWhateverTheirName) {
  const std::vector<Bytes> channels = {Bytes(100, 0x96), Bytes(100, 0x69)};
  ASSERT_EQ(Decode(dir_.Write(u"dsf.wav", MakeDsf({.rate = 11289600}, channels))), kOk);
  EXPECT_THAT(Statuses(), ElementsAre(kBuiltIn, kBuiltIn));
  EXPECT_EQ(request_.IsDsd, 1U);
  EXPECT_EQ(request_.DecodedKind, context::kKindInteger);
  EXPECT_EQ(request_.DecodedBits, 1U);
  EXPECT_EQ(request_.DecodedRate, 11289600U);
  EXPECT_EQ(request_.Buffer.Get<dsp::DsdBuffer>()->length, 100U);

  ASSERT_EQ(Decode(dir_.Write(u"x.dff", MakeDsdiff({}, channels))), kOk);
  EXPECT_EQ(request_.DecodedRate, 2822400U);
  EXPECT_EQ(request_.Buffer.Get<dsp::DsdBuffer>()->Data()[0], 0x96);
  EXPECT_EQ(request_.Buffer.Get<dsp::DsdBuffer>()->Data()[1], 0x69);
}

// A WAV the built-in reader refuses (four channels) is read by the platform decoder when FFmpeg is
// off: its first two channels as float.
TEST_F(DecodeTrackTest, WhatNoOtherReaderTakesGoesToThePlatformDecoder) {
  const Bytes frame = PackLe({-0x8000, 0x4000, 7, 9}, 16);
  ASSERT_EQ(Decode(dir_.Write(u"4ch.wav", MakeWav({.channels = 4, .rate = 22050}, frame))), kOk);
  EXPECT_THAT(Statuses(), ElementsAre(kBuiltIn, kBuiltIn, kBuiltIn, kPlatform));
  const dsp::AudioBuffer* audio = request_.Buffer.Get<dsp::AudioBuffer>();
  ASSERT_NE(audio, nullptr);
  EXPECT_THAT(std::vector(audio->Frame(0), audio->Frame(1)), ElementsAre(-1.0, 0.5));
  EXPECT_EQ(request_.DecodedKind, context::kKindFloat);
  EXPECT_EQ(request_.DecodedBits, kPlatformIntegerBits);
  EXPECT_EQ(request_.DecodedRate, 22050U);
}

// Every attempt in its order, ending with its text; `set` (if any) is switched on first.
TEST_F(DecodeTrackTest, ShowsEveryAttemptAndFailsWithItsText) {
  using context::AppContext;
  const std::vector<std::u16string> chain = {kBuiltIn, kBuiltIn, kBuiltIn, kPlatform, kReadFailed};
  const Bytes any(64, 'x');
  struct Case {
    std::u16string file;  // name in the temporary directory; "" = the directory itself
    std::optional<Bytes> content;
    platform::Word AppContext::*set;
    std::vector<std::u16string> statuses;
  } const cases[] = {
      {u"none.wav", std::nullopt, nullptr, {u"ERROR: path not found"}},
      {u"", std::nullopt, nullptr, {u"ERROR: directory path"}},
      {u"x.mp3", any, nullptr, chain},
      {u"x.ogg",
       any,
       &AppContext::UseFfmpeg,
       {kBuiltIn, kBuiltIn, kBuiltIn, kFfmpeg, kPlatform, kReadFailed}},
      {u"x.mid", any, nullptr, chain},  // no Fluidsynth: down the chain
      {u"x.MID", any, &AppContext::UseFluidsynth, {u"Reading with Fluidsynth ...", kReadFailed}},
      {u"x.ovi", any, &AppContext::UseWinfmp, {u"Reading with WinFMP ...", kReadFailed}},
      {u"x.M2", any, &AppContext::UsePmdwin, {u"Reading with PMDWin ...", kReadFailed}},
      {u"x.mz", any, nullptr, chain},                 // PMDWin off: down the chain
      {u"x.wav", any, &AppContext::PlayCommand, {}},  // a stop: no text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.file));
    if (c.set) app_.*c.set = 1;
    const std::size_t before = Statuses().size();
    const std::u16string path = c.file.empty() ? dir_.Path() : dir_.File(c.file);
    EXPECT_TRUE(!c.content || WriteFileBytes(path, *c.content));
    EXPECT_NE(Decode(path), kOk);
    const auto statuses = Statuses();
    EXPECT_THAT(std::vector(statuses.begin() + static_cast<std::ptrdiff_t>(before), statuses.end()),
                ElementsAreArray(c.statuses));
    EXPECT_TRUE(request_.Buffer.Empty());
    if (c.set) app_.*c.set = 0;
  }
}

// A WAV the reader takes but whose float copy the memory guard refuses goes on down the chain.
TEST_F(DecodeTrackTest, AWavWhoseConversionFailsGoesOnDownTheChain) {
  const std::u16string path = dir_.Write(u"big.wav", MakeWav({.channels = 1}, Bytes(2'000'000)));
  constexpr std::uint64_t kGuardReserve = 128ULL << 20;
  // Room for the 10 MiB read block and the 2 MB of samples, not for the 16 MB float copy.
  FakeMemoryStatus memory(kGuardReserve + (12ULL << 20));
  EXPECT_NE(Decode(path), kOk);
  EXPECT_THAT(Statuses(),
              ElementsAre(kBuiltIn, kConverting, kBuiltIn, kBuiltIn, kPlatform, kReadFailed));
  EXPECT_TRUE(request_.Buffer.Empty());
}

#ifndef _WIN32  // the code page of a thread's POSIX locale; Windows has one for the process
TEST_F(DecodeTrackTest, FmMusicPathOutsideTheCodePageFailsBeforeAnyReader) {
  const locale_t ascii = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
  const locale_t previous = uselocale(ascii);
  app_.UseWinfmp = 1;
  const std::u16string path = dir_.Write(u"caf\u00e9.ozi", Bytes(16));
  EXPECT_NE(Decode(path), kOk);
  uselocale(previous);
  freelocale(ascii);
  EXPECT_THAT(Statuses(),
              ElementsAre(u"Reading with WinFMP ...", u"ERROR: Non-ANSI characters in filename"));
}
#endif

}  // namespace
}  // namespace lumaro::testing
