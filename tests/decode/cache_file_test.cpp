#include "decode/cache_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "decode/byte_order.h"
#include "decode/cache_writers.h"
#include "decode/dsdiff_reader.h"
#include "decode/wav_reader.h"
#include "dsp/bit_reverse.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "tests/support/audio_files.h"
#include "tests/support/audio_slot.h"

namespace lumaro::testing {
namespace {

using decode::CacheFormat;
using ::testing::ElementsAreArray;

dsp::BufferSlot AudioSlot(std::uint64_t frames) {
  return testing::AudioSlot(
      96000, frames, [](std::uint64_t n) { return (2.0 * n - 3.5) / 7.0; },
      [](std::uint64_t n) { return (2.0 * n - 2.5) / 7.0; });
}

dsp::BufferSlot DsdSlot(std::uint64_t length) {
  return testing::DsdSlot(
      5644800, length, [](std::uint64_t i) { return static_cast<unsigned char>(i * 58); },
      [](std::uint64_t i) { return static_cast<unsigned char>(i * 58 + 29); });
}

TEST(CacheFileTest, FormatThresholdKeepsWavSizesIn32Bits) {
  EXPECT_EQ(decode::CacheFormatFor(false, 268'435'452), CacheFormat::kWav);  // 4,294,967,290
  EXPECT_EQ(decode::CacheFormatFor(false, 268'435'453), CacheFormat::kWave64);
  EXPECT_EQ(decode::CacheFormatFor(false, UINT64_MAX / 2), CacheFormat::kWave64);
  EXPECT_EQ(decode::CacheFormatFor(true, 1), CacheFormat::kDsdiff);
}

TEST(CacheFileTest, NameIsTheTracksInThePlayersDirectory) {
  struct Case {
    std::u16string directory, track;
    CacheFormat format;
    std::optional<std::u16string> expected;
  };
  const std::u16string n250(250, u'n');
  const Case cases[] = {
      {u"/player", u"/music/song.flac", CacheFormat::kWav, u"/player/song.wav"},
      {u"/player", u"/music/a.b.mp3", CacheFormat::kWave64, u"/player/a.b.w64"},
      {u"/player", u"/music/noext", CacheFormat::kDsdiff, u"/player/noext.dff"},
      // Directory + 2 + file name may reach 259 units, not more.
      {u"/p", u"/m/" + n250 + u".flac", CacheFormat::kWav, u"/p/" + n250 + u".wav"},
      {u"/p", u"/m/" + n250 + u"n.flac", CacheFormat::kWav, std::nullopt},
      // The name without its extension, + 1 + the new extension, likewise.
      {u"/p", u"/m/" + n250 + u"n", CacheFormat::kWav, u"/p/" + n250 + u"n.wav"},
      {u"/p", u"/m/" + n250 + u"nn", CacheFormat::kWav, std::nullopt},
      {u"", u"/m/song.flac", CacheFormat::kWav, std::nullopt},
      {u"/player", u"/music/", CacheFormat::kWav, std::nullopt},
  };
  for (const Case& c : cases) {
    // The directory as given, then the name after this system's separator.
    const std::optional<std::u16string> expected =
        c.expected
            ? std::optional(c.directory + NativeSeparators(c.expected->substr(c.directory.size())))
            : std::nullopt;
    EXPECT_EQ(decode::CacheFilePath(c.directory, c.track, c.format), expected);
  }
}

class CacheWriteTest : public ::testing::Test {
 protected:
  TempDir dir_;
  platform::StopWord stop_;
};

TEST_F(CacheWriteTest, FloatWavRoundTripsThroughTheWavReader) {
  const dsp::BufferSlot audio = AudioSlot(5);
  ASSERT_EQ(decode::WriteCacheFile(u"/music/song.flac", audio, false, stop_, dir_.Path()), kOk);
  const auto bytes = ReadFileBytes(dir_.File(u"song.wav"));
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 58U + 5 * 16);
  const auto header = decode::WavCacheHeader(96000, 5);
  EXPECT_THAT(Bytes(bytes->begin(), bytes->begin() + 58), ElementsAreArray(header));
  EXPECT_EQ(decode::LoadLe<std::uint32_t>(header.data() + 4), 5U * 16 + 50);
  EXPECT_EQ(decode::LoadLe<std::uint32_t>(header.data() + 46), 5U);

  dsp::BufferSlot back;
  ASSERT_EQ(decode::ReadWav(dir_.File(u"song.wav"), back, stop_), kOk);
  const dsp::PcmBuffer* pcm = back.Get<dsp::PcmBuffer>();
  ASSERT_EQ(pcm->bits, 64);
  ASSERT_EQ(pcm->sampleFormat, dsp::kPcmFloat);
  EXPECT_EQ(std::memcmp(pcm->Data(), audio.Get<dsp::AudioBuffer>()->Frame(0), 5 * 16), 0);
}

TEST_F(CacheWriteTest, Wave64CarriesTrue64BitSizes) {
  const std::uint64_t frames = 300'000'000;  // 4.8 GB of samples, header only
  const auto h = decode::Wave64CacheHeader(192000, frames);
  EXPECT_EQ(decode::LoadLe<std::uint64_t>(h.data() + 16), frames * 16 + 136);
  EXPECT_EQ(decode::LoadLe<std::uint64_t>(h.data() + 104), frames);
  EXPECT_EQ(decode::LoadLe<std::uint64_t>(h.data() + 128), frames * 16 + 24);
  EXPECT_EQ(decode::LoadLe<std::uint32_t>(h.data() + 72), 192000U * 16);
  // "riff" GUID 66666972-912e-11cf-a5d6-28db04c10000 and the "data" GUID.
  EXPECT_THAT(Bytes(h.begin(), h.begin() + 16),
              ElementsAreArray({0x72, 0x69, 0x66, 0x66, 0x2e, 0x91, 0xcf, 0x11, 0xa5, 0xd6, 0x28,
                                0xdb, 0x04, 0xc1, 0x00, 0x00}));
  EXPECT_THAT(Bytes(h.begin() + 112, h.begin() + 128),
              ElementsAreArray({0x64, 0x61, 0x74, 0x61, 0xf3, 0xac, 0xd3, 0x11, 0x8c, 0xd1, 0x00,
                                0xc0, 0x4f, 0x8e, 0xdb, 0x8a}));

  const dsp::BufferSlot audio = AudioSlot(3);
  const std::u16string path = dir_.File(u"x.w64");
  ASSERT_EQ(decode::WriteWave64Cache(path, *audio.Get<dsp::AudioBuffer>(), stop_), kOk);
  EXPECT_EQ(ReadFileBytes(path)->size(), 136U + 3 * 16);
}

TEST_F(CacheWriteTest, DsdiffRoundTripsAndHoldsReversedBits) {
  const dsp::BufferSlot dsd = DsdSlot(1500);
  ASSERT_EQ(decode::WriteCacheFile(u"/m/track.dsf", dsd, true, stop_, dir_.Path()), kOk);
  const std::u16string path = dir_.File(u"track.dff");
  const auto bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes->size(), 150U + 3000);
  const unsigned char* data = dsd.Get<dsp::DsdBuffer>()->Data();
  EXPECT_EQ((*bytes)[150 + 1], dsp::kBitReversed[data[1]]);
  EXPECT_EQ(data[1], 29);  // the record itself is unchanged

  dsp::BufferSlot back;
  ASSERT_EQ(decode::ReadDsdiff(path, back, stop_), kOk);
  const dsp::DsdBuffer* read = back.Get<dsp::DsdBuffer>();
  EXPECT_EQ(read->dsdRate, 5644800U);
  ASSERT_EQ(read->length, 1500U);
  EXPECT_EQ(std::memcmp(read->Data(), data, 3000), 0);
}

// An existing file is left alone; a stop, a record not matching the flag or a missing
// directory leave no file.
TEST_F(CacheWriteTest, WritesOnlyANewCompleteFile) {
  const dsp::BufferSlot audio = AudioSlot(4);
  ASSERT_EQ(decode::WriteCacheFile(u"/a/song.flac", AudioSlot(2), false, stop_, dir_.Path()), kOk);
  ASSERT_EQ(decode::WriteCacheFile(u"/b/song.mp3", audio, false, stop_, dir_.Path()), kOk);
  EXPECT_EQ(ReadFileBytes(dir_.File(u"song.wav"))->size(), 58U + 2 * 16);
  stop_.Store(1);
  EXPECT_NE(decode::WriteCacheFile(u"/m/stop.flac", audio, false, stop_, dir_.Path()), kOk);
  EXPECT_FALSE(ReadFileBytes(dir_.File(u"stop.wav")));
  stop_.Store(0);
  EXPECT_NE(decode::WriteCacheFile(u"/m/song.flac", audio, true, stop_, dir_.Path()), kOk);
  EXPECT_FALSE(ReadFileBytes(dir_.File(u"song.dff")));
  EXPECT_NE(decode::WriteCacheFile(u"/m/song.flac", audio, false, stop_, dir_.File(u"none")), kOk);
}

// The cache file is written under a partial name and appears only whole: a partial file a killed
// run left is replaced, and a write that cannot finish (a stop, a directory in the target's
// place, a full device) leaves no partial file and the target as it was, with the path and the
// system's reason in the failure's note.
TEST_F(CacheWriteTest, TheTargetIsWholeOrAbsentAndAFailureSaysWhy) {
  const dsp::BufferSlot audio = AudioSlot(4);
  const auto entries = [&] {
    std::vector<platform::DirectoryEntry> found;
    EXPECT_TRUE(platform::ListDirectory(dir_.Path(), &found));
    std::vector<std::u16string> names;
    for (const auto& e : found) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
  };
  ASSERT_TRUE(WriteFileBytes(dir_.File(u"killed.wa~"), Bytes(7, 1)));
  ASSERT_EQ(decode::WriteCacheFile(u"/m/killed.flac", audio, false, stop_, dir_.Path()), kOk);
  EXPECT_EQ(ReadFileBytes(dir_.File(u"killed.wav"))->size(), 58U + 4 * 16);
  EXPECT_EQ(entries(), std::vector<std::u16string>{u"killed.wav"});

  ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::path(dir_.File(u"dir.wav"))));
  // A target whose name ends in '~' is written as "…~~" and kept whole through a failure.
  ASSERT_TRUE(WriteFileBytes(dir_.File(u"kept.wa~"), Bytes(5, 2)));
  std::vector<std::u16string> left = {u"dir.wav", u"kept.wa~", u"killed.wav"};
  struct Case {
    std::u16string target;
    bool stop;
    std::string_view failure, reason;
  };
  const Case cases[] = {
      {dir_.File(u"stopped.wav"), true, "WAV cache write stopped", ""},
      {dir_.File(u"kept.wa~"), true, "WAV cache write stopped", ""},
      {dir_.File(u"dir.wav"), false, "cache file create failed", "dir.wav: "},
#ifndef _WIN32
      {u"/dev/full", false, "WAV cache header write failed", "/dev/full: No space left on device"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.target));
    stop_.Store(c.stop ? 1 : 0);
    const platform::StopWord noStop;
    const platform::FailureRecording recording(&noStop);
    EXPECT_NE(decode::WriteWavCache(c.target, *audio.Get<dsp::AudioBuffer>(), stop_), kOk);
    const std::vector<platform::FailureNote> chain = platform::TakeFailureChain();
    ASSERT_FALSE(chain.empty());
    EXPECT_EQ(chain.front().name, c.failure);
    EXPECT_THAT(chain.front().detail, ::testing::HasSubstr(c.reason));
    EXPECT_EQ(entries(), left);
  }
  EXPECT_EQ(ReadFileBytes(dir_.File(u"kept.wa~")), Bytes(5, 2));
  stop_.Store(0);

#ifndef _WIN32
  // A link is written through, in place: it stays a link, and what it names gets the file.
  const std::u16string named = dir_.File(u"named.wav");
  std::filesystem::create_symlink(std::filesystem::path(named),
                                  std::filesystem::path(dir_.File(u"link.wav")));
  ASSERT_EQ(decode::WriteWavCache(dir_.File(u"link.wav"), *audio.Get<dsp::AudioBuffer>(), stop_),
            kOk);
  EXPECT_TRUE(std::filesystem::is_symlink(std::filesystem::path(dir_.File(u"link.wav"))));
  EXPECT_EQ(ReadFileBytes(named)->size(), 58U + 4 * 16);
#endif
}

}  // namespace
}  // namespace lumaro::testing
