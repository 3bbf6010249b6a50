// The DSF and DSDIFF readers: both give DsdBuffers with the earliest sample in bit 0.
#include <gtest/gtest.h>

#include <functional>

#include "decode/dsdiff_reader.h"
#include "decode/dsf_reader.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

// `count` channels of `length` bytes whose values depend on the channel and the position.
std::vector<Bytes> Channels(unsigned count, std::size_t length) {
  std::vector<Bytes> channels(count, Bytes(length));
  for (unsigned c = 0; c < count; ++c) {
    for (std::size_t i = 0; i < length; ++i) {
      channels[c][i] = static_cast<unsigned char>(i * 7 + c * 51 + (i >> 8));
    }
  }
  return channels;
}

using Reader = Result (*)(std::u16string_view, dsp::BufferSlot&, const platform::StopWord&);
using Maker = std::function<Bytes(const std::vector<Bytes>&)>;

Maker Dsf(DsfSpec s) {
  return [s](const std::vector<Bytes>& c) { return MakeDsf(s, c); };
}
Maker Dff(DsdiffSpec s) {
  return [s](const std::vector<Bytes>& c) { return MakeDsdiff(s, c); };
}

class DsdReaderTest : public ::testing::Test {
 protected:
  Result Read(Reader reader, const Bytes& file) {
    return reader(dir_.Write(u"in.dsd", file), slot_, stop_);
  }

  TempDir dir_;
  dsp::BufferSlot slot_;
  platform::StopWord stop_;
};

// Mono is duplicated, of more channels the first two are kept; DSF blocks, DSF's most
// significant bit first, DSDIFF's reversed bits, skipped chunks and partly used last bytes or
// frames all give the same pairs.
TEST_F(DsdReaderTest, ReadsEveryLayoutIntoLeftRightPairs) {
  const Maker partialFrame = [](const std::vector<Bytes>& c) {
    Bytes file = MakeDsdiff({.dataSize = 21}, c);  // one byte of a third frame
    file.push_back(0x77);
    return file;
  };
  struct Case {
    const char* name;
    Reader reader;
    Maker make;
    unsigned channels;
    std::size_t length;
    std::uint32_t rate = 2822400;
  } const cases[] = {
      {"DsfStereoAcrossBlocks", decode::ReadDsf, Dsf({}), 2, 10000},  // the last block partly used
      {"DsfMsbFirst", decode::ReadDsf, Dsf({.rate = 5644800, .bitsPerSample = 8}), 2, 5000,
       5644800},
      {"DsfMono", decode::ReadDsf, Dsf({.channels = 1}), 1, 4097},
      {"DsfSix", decode::ReadDsf, Dsf({.channels = 6}), 6, 9000},
      {"DsfPartlyUsedLastByte", decode::ReadDsf, Dsf({.sampleCount = 1'000'001, .padding = 0x5A}),
       2, 125'001},
      {"Dsdiff", decode::ReadDsdiff, Dff({}), 2, 3000},
      {"DsdiffMono", decode::ReadDsdiff, Dff({.channels = 1}), 1, 777},
      // Odd-sized comment and edit-master chunks (with their pad bytes), an unknown property.
      {"DsdiffSixSkippingChunks", decode::ReadDsdiff,
       Dff({.channels = 6,
            .rate = 11289600,
            .properties = {{"LSCO", Bytes(3, 1), {}}},
            .beforeData = {{"COMT", Bytes(13, 'c'), {}}, {"DIIN", Bytes(7, 'd'), {}}}}),
       6, 1001, 11289600},
      {"DsdiffTrailingPartialFrame", decode::ReadDsdiff, partialFrame, 2, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto channels = Channels(c.channels, c.length);
    ASSERT_EQ(Read(c.reader, c.make(channels)), kOk);
    const dsp::DsdBuffer* b = slot_.Get<dsp::DsdBuffer>();
    EXPECT_EQ(b->dsdRate, c.rate);
    ASSERT_EQ(b->length, c.length);
    const Bytes& right = channels[c.channels > 1 ? 1 : 0];
    for (std::size_t i = 0; i < c.length; ++i) {
      ASSERT_TRUE(b->Data()[2 * i] == channels[0][i] && b->Data()[2 * i + 1] == right[i]) << i;
    }
    EXPECT_EQ(b->Data()[2 * c.length], dsp::kDsdSilence);
  }
}

TEST_F(DsdReaderTest, RefusesAnyOtherHeaderWithTheSlotEmpty) {
  struct DsfCase {
    const char* name;
    DsfSpec spec;
    int at = -1;  // a byte of the finished file to change
    unsigned char value = 0;
  } const dsfCases[] = {
      {"Magic", {}, 0, 'd'},
      {"DsdChunkSize", {}, 4, 27},
      {"FmtChunkSize", {}, 32, 51},
      {"Version2", {.formatVersion = 2}},
      {"Compressed", {.formatId = 1}},
      {"SevenChannels", {.channels = 7}},
      {"ZeroChannels", {}, 52, 0},
      {"Rate3072000", {.rate = 3072000}},
      {"RateNotMultipleOf8", {.rate = 2822401}},
      {"Bits4", {.bitsPerSample = 4}},
      {"SevenSamples", {.sampleCount = 7}},
      {"MoreSamplesThanData", {.sampleCount = 8ULL * (2 * 4096 * 2 + 12) + 1}},
      {"Block2048", {}, 73, 0x08},
      {"MetadataBeforeData", {.beforeData = {{"ID3 ", Bytes(10), {}}}}},
  };
  for (const DsfCase& c : dsfCases) {
    SCOPED_TRACE(c.name);
    Bytes file = MakeDsf(c.spec, Channels(c.spec.channels, 5000));
    if (c.at >= 0) file[static_cast<std::size_t>(c.at)] = c.value;
    EXPECT_NE(Read(decode::ReadDsf, file), kOk);
    EXPECT_TRUE(slot_.Empty());
  }
  const std::pair<const char*, DsdiffSpec> dsdiffCases[] = {
      {"NoCompressionChunk", {.withCompression = false}},
      {"DstCompressed", {.compression = "DST "}},
      {"Version2", {.version = 2}},
      {"Rate3072000", {.rate = 3072000}},
      {"Rate44100", {.rate = 44100}},
      {"ZeroChannels", {.channels = 0}},
      {"ZeroLength", {.dataSize = 1}},
      {"DataPastTheEnd", {.dataSize = 100000}},
      {"PropertyLargerThanProp", {.properties = {{"LSCO", Bytes(2), 1000}}}},
      {"RateChunkOfEightBytes", {.properties = {{"FS  ", Bytes(8), {}}}}},
      {"ChannelChunkOfOneByte", {.properties = {{"CHNL", Bytes(1), {}}}}},
  };
  for (const auto& [name, spec] : dsdiffCases) {
    SCOPED_TRACE(name);
    EXPECT_NE(Read(decode::ReadDsdiff, MakeDsdiff(spec, Channels(spec.channels, 100))), kOk);
    EXPECT_TRUE(slot_.Empty());
  }
  Bytes noSound = MakeDsdiff({}, Channels(2, 100));
  noSound.resize(noSound.size() - 212);  // the sound data chunk is gone
  EXPECT_NE(Read(decode::ReadDsdiff, noSound), kOk);
  stop_.Store(1);
  EXPECT_NE(Read(decode::ReadDsdiff, MakeDsdiff({}, Channels(2, 100))), kOk);
  EXPECT_NE(Read(decode::ReadDsf, MakeDsf({}, Channels(2, 100))), kOk);
  EXPECT_TRUE(slot_.Empty());
}

}  // namespace
}  // namespace lumaro::testing
