// Every prefix of a small file, as a download cut short leaves it: the built-in readers take a
// file only when its sample data is all there, else fail with the slot empty (the sanitizer
// build checks that nothing is read out of bounds and nothing stays allocated).
#include <gtest/gtest.h>

#include <filesystem>

#include "decode/dsdiff_reader.h"
#include "decode/dsf_reader.h"
#include "decode/wav_reader.h"
#include "platform/failure.h"
#include "platform/text.h"
#include "tests/support/audio_files.h"
#include "tests/support/fake_memory_status.h"

namespace lumaro::testing {
namespace {

using namespace std::string_view_literals;
using Reader = Result (*)(std::u16string_view, dsp::BufferSlot&, const platform::StopWord&);

TEST(TruncatedFilesTest, EveryPrefixIsReadWholeOrRefusedCleanly) {
  std::vector<std::int64_t> samples;
  for (int i = 0; i < 48; ++i) samples.push_back((i * 2731) % 65536 - 32768);
  struct Case {
    const char* name;
    Reader reader;
    Bytes file;
    std::size_t dataEnd;  // the prefixes this long or longer hold every sample
  };
  // A chunk the readers never look at, appended after the sample data.
  const auto withTrailer = [](Bytes file, std::string_view t) {
    file.insert(file.end(), t.begin(), t.end());
    return file;
  };
  const Bytes pcm = PackLe(samples, 16);  // also the DSD channels' bytes
  const Bytes wav = MakeWav({.before = {{"JUNK", Bytes(6, 0)}}}, pcm);
  const Bytes extensible = MakeWav({.formatTag = 0xFFFE, .bits = 32, .validBits = 24},
                                   PackLe(samples, 32));  // repacked through the scratch area
  const Bytes dsf = MakeDsf({.channels = 1}, {pcm});      // one padded 4096-byte block
  const Bytes dsdiff = MakeDsdiff({.beforeData = {{"COMT", Bytes(10, 0)}}}, {pcm, Bytes(96, 1)});
  const Case cases[] = {
      {"wav", decode::ReadWav, withTrailer(wav, "LIST\4\0\0\0INFO"sv), wav.size()},
      {"extensible wav", decode::ReadWav, extensible, extensible.size()},
      {"dsf", decode::ReadDsf, withTrailer(dsf, "ID3\3\0\0\0\0\0\0"sv), dsf.size()},
      {"dsdiff", decode::ReadDsdiff, withTrailer(dsdiff, "DIIN\0\0\0\0\0\0\0\0"sv), dsdiff.size()},
  };
  TempDir dir;
  const std::u16string path = dir.File(u"cut");
  platform::StopWord stop;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(path, c.file));
    dsp::BufferSlot slot;
    // Shortened in place, longest first (rewriting the file for every length would be slow).
    for (std::size_t cut = 0; cut <= c.file.size(); ++cut) {
      const std::size_t length = c.file.size() - cut;
      std::filesystem::resize_file(platform::Utf16ToUtf8(path), length);
      const Result read = c.reader(path, slot, stop);
      ASSERT_EQ(read == kOk, length >= c.dataEnd) << length;
      ASSERT_EQ(slot.Empty(), read != kOk) << length;
    }
  }
}

// A header that claims far more samples than its small file holds fails as a short file before
// the buffer is taken: with the memory guard seeing only 256 MiB free, a buffer sized from the
// claim would be refused instead (and on a large machine would cost gigabytes).
TEST(TruncatedFilesTest, AClaimBeyondTheFileFailsAsShortBeforeTakingMemory) {
  const FakeMemoryStatus memory(256ULL << 20);
  const Bytes bytes(8192, 0x69);
  Bytes dsf = MakeDsf({}, {bytes, bytes});
  // 4 GiB per channel: the sample count and the data chunk's size.
  constexpr std::uint64_t kClaimedBytes = 4ULL << 30;
  const Bytes count = PackLe({static_cast<std::int64_t>(kClaimedBytes * 8)}, 64);
  const Bytes size = PackLe({static_cast<std::int64_t>(kClaimedBytes * 2 + 12)}, 64);
  std::copy(count.begin(), count.end(), dsf.begin() + 64);
  std::copy(size.begin(), size.end(), dsf.begin() + 84);
  struct Case {
    Reader reader;
    Bytes file;
    std::string_view failure;
  };
  const Case cases[] = {
      {decode::ReadWav, MakeWav({.dataSize = 0xFFFFFFF0}, bytes),
       "WAV data shorter than its header says"},
      {decode::ReadDsf, dsf, "DSF data shorter than its header says"},
      {decode::ReadDsdiff, MakeDsdiff({.dataSize = 1ULL << 33}, {bytes, bytes}),
       "DSDIFF data shorter than its header says"},
  };
  TempDir dir;
  platform::StopWord stop;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failure);
    const std::u16string path = dir.Write(u"claim", c.file);
    dsp::BufferSlot slot;
    const platform::FailureRecording recording(&stop);
    EXPECT_NE(c.reader(path, slot, stop), kOk);
    EXPECT_TRUE(slot.Empty());
    const std::vector<platform::FailureNote> chain = platform::TakeFailureChain();
    ASSERT_FALSE(chain.empty());
    EXPECT_EQ(chain.front().name, c.failure);
  }
}

}  // namespace
}  // namespace lumaro::testing
