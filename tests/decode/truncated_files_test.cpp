// Every prefix of a small file, as a download cut short or a copy to a full disk leaves it: the
// built-in readers take a file only when its sample data is all there, and otherwise fail
// silently with the slot empty (the address-sanitizer build checks that nothing is read out of
// bounds and nothing stays allocated).
#include <gtest/gtest.h>

#include <filesystem>

#include "decode/dsdiff_reader.h"
#include "decode/dsf_reader.h"
#include "decode/wav_reader.h"
#include "platform/text.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

using namespace std::string_view_literals;
using Reader = Result (*)(std::u16string_view, dsp::BufferSlot&, const platform::StopWord&);

// The bytes of the record in the slot (empty when there is none).
Bytes Contents(const dsp::BufferSlot& slot) {
  if (const dsp::PcmBuffer* pcm = slot.Get<dsp::PcmBuffer>()) {
    return {pcm->Data(), pcm->Data() + pcm->DataSize()};
  }
  if (const dsp::DsdBuffer* dsd = slot.Get<dsp::DsdBuffer>()) {
    return {dsd->Data(), dsd->Data() + 2 * dsd->length};
  }
  return {};
}

Bytes Ramp(std::size_t length, unsigned step) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(i * step + 1);
  return bytes;
}

// `file` with a chunk the readers never look at appended after the sample data.
Bytes WithTrailer(Bytes file, std::string_view trailer) {
  file.insert(file.end(), trailer.begin(), trailer.end());
  return file;
}

TEST(TruncatedFilesTest, EveryPrefixIsReadWholeOrRefusedCleanly) {
  std::vector<std::int64_t> samples;
  for (int i = 0; i < 48; ++i) samples.push_back((i * 2731) % 65536 - 32768);
  struct Case {
    const char* name;
    Reader reader;
    Bytes file;
    std::size_t dataEnd;  // the prefixes this long or longer hold every sample
  };
  const Bytes wav = MakeWav({.before = {{"JUNK", Bytes(6, 0)}}}, PackLe(samples, 16));
  const Bytes extensible = MakeWav({.formatTag = 0xFFFE, .bits = 32, .validBits = 24},
                                   PackLe(samples, 32));  // repacked through the scratch area
  const Bytes dsf = MakeDsf({}, {Ramp(100, 7), Ramp(100, 13)});
  const Bytes dsdiff =
      MakeDsdiff({.beforeData = {{"COMT", Bytes(10, 0)}}}, {Ramp(100, 7), Ramp(100, 13)});
  const Case cases[] = {
      {"wav", decode::ReadWav, WithTrailer(wav, "LIST\4\0\0\0INFO"sv), wav.size()},
      {"extensible wav", decode::ReadWav, extensible, extensible.size()},
      {"dsf", decode::ReadDsf, WithTrailer(dsf, "ID3\3\0\0\0\0\0\0"sv), dsf.size()},
      {"dsdiff", decode::ReadDsdiff, WithTrailer(dsdiff, "DIIN\0\0\0\0\0\0\0\0"sv), dsdiff.size()},
  };
  TempDir dir;
  const std::u16string path = dir.File(u"cut");
  platform::StopWord stop;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(path, c.file));
    dsp::BufferSlot slot;
    ASSERT_EQ(c.reader(path, slot, stop), kOk);
    const Bytes whole = Contents(slot);
    ASSERT_FALSE(whole.empty());
    // Shortened in place, longest first (rewriting the file for every length would be slow).
    for (std::size_t cut = 0; cut <= c.file.size(); ++cut) {
      const std::size_t length = c.file.size() - cut;
      std::filesystem::resize_file(platform::Utf16ToUtf8(path), length);
      const Result read = c.reader(path, slot, stop);
      ASSERT_EQ(read == kOk, length >= c.dataEnd) << length;
      ASSERT_EQ(Contents(slot), read == kOk ? whole : Bytes()) << length;
      ASSERT_EQ(slot.Empty(), read != kOk) << length;
    }
  }
}

}  // namespace
}  // namespace lumaro::testing
