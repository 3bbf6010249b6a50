// The DSF and DSDIFF readers: both give DsdBuffers with the earliest sample in bit 0.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "decode/dsdiff_reader.h"
#include "decode/dsf_reader.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAreArray;

// A channel of `length` bytes whose values depend on the channel and the position.
Bytes Channel(std::size_t length, unsigned channel) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<unsigned char>(i * 7 + channel * 51 + (i >> 8));
  }
  return bytes;
}

std::vector<Bytes> Channels(unsigned count, std::size_t length) {
  std::vector<Bytes> channels;
  for (unsigned c = 0; c < count; ++c) channels.push_back(Channel(length, c));
  return channels;
}

// The byte pairs the buffer should hold for these channels.
Bytes Pairs(const Bytes& left, const Bytes& right) {
  Bytes pairs;
  for (std::size_t i = 0; i < left.size(); ++i) {
    pairs.push_back(left[i]);
    pairs.push_back(right[i]);
  }
  return pairs;
}

using Reader = Result (*)(std::u16string_view, dsp::BufferSlot&, const platform::StopWord&);

class DsdReaderTest : public ::testing::Test {
 protected:
  Result Read(Reader reader, const Bytes& file) {
    const std::u16string path = dir_.File(u"in.dsd");
    EXPECT_TRUE(WriteFileBytes(path, file));
    return reader(path, slot_, stop_);
  }
  Bytes Data() const {
    const dsp::DsdBuffer* b = slot_.Get<dsp::DsdBuffer>();
    return {b->Data(), b->Data() + 2 * b->length};
  }

  TempDir dir_;
  dsp::BufferSlot slot_;
  platform::StopWord stop_;
};

// ---- DSF ---------------------------------------------------------------------------------

TEST_F(DsdReaderTest, DsfStereoAcrossBlocksKeepsChannelOrder) {
  const auto channels = Channels(2, 10000);  // three blocks, the last partly used
  ASSERT_EQ(Read(decode::ReadDsf, MakeDsf({}, channels)), kOk);
  const dsp::DsdBuffer* b = slot_.Get<dsp::DsdBuffer>();
  EXPECT_EQ(b->dsdRate, 2822400U);
  EXPECT_EQ(b->length, 10000U);
  EXPECT_THAT(Data(), ElementsAreArray(Pairs(channels[0], channels[1])));
  EXPECT_EQ(b->Data()[2 * 10000], dsp::kDsdSilence);
}

TEST_F(DsdReaderTest, DsfBitsOneAndEightGiveTheSameBuffer) {
  const auto channels = Channels(2, 5000);
  DsfSpec msbFirst;
  msbFirst.bitsPerSample = 8;
  msbFirst.rate = 5644800;
  ASSERT_EQ(Read(decode::ReadDsf, MakeDsf(msbFirst, channels)), kOk);
  EXPECT_THAT(Data(), ElementsAreArray(Pairs(channels[0], channels[1])));
}

TEST_F(DsdReaderTest, DsfMonoIsDuplicatedAndSixChannelsGiveTheFirstTwo) {
  const auto mono = Channels(1, 4097);
  DsfSpec spec;
  spec.channels = 1;
  ASSERT_EQ(Read(decode::ReadDsf, MakeDsf(spec, mono)), kOk);
  EXPECT_THAT(Data(), ElementsAreArray(Pairs(mono[0], mono[0])));

  const auto six = Channels(6, 9000);
  spec.channels = 6;
  ASSERT_EQ(Read(decode::ReadDsf, MakeDsf(spec, six)), kOk);
  EXPECT_THAT(Data(), ElementsAreArray(Pairs(six[0], six[1])));
}

TEST_F(DsdReaderTest, DsfPartlyUsedLastByteCounts) {
  DsfSpec spec;
  spec.sampleCount = 1'000'001;
  spec.padding = 0x5A;
  const auto channels = Channels(2, 125'001);
  ASSERT_EQ(Read(decode::ReadDsf, MakeDsf(spec, channels)), kOk);
  EXPECT_EQ(slot_.Get<dsp::DsdBuffer>()->length, 125'001U);
}

struct DsfRefusal {
  const char* name;
  std::function<void(DsfSpec&, Bytes&)>
      spoil;  // changes the file description, or the finished file
};

void PrintTo(const DsfRefusal& c, std::ostream* os) { *os << c.name; }

class DsfRefusalTest : public DsdReaderTest, public ::testing::WithParamInterface<DsfRefusal> {};

TEST_P(DsfRefusalTest, FailsWithTheSlotEmpty) {
  DsfSpec spec;
  Bytes none;
  GetParam().spoil(spec, none);
  Bytes file = MakeDsf(spec, Channels(spec.channels, 5000));
  GetParam().spoil(spec, file);
  EXPECT_NE(Read(decode::ReadDsf, file), kOk);
  EXPECT_TRUE(slot_.Empty());
}

void At(Bytes& file, std::size_t offset, unsigned char value) {
  if (file.size() > offset) file[offset] = value;
}

INSTANTIATE_TEST_SUITE_P(
    Header, DsfRefusalTest,
    ::testing::Values(
        DsfRefusal{"Magic", [](DsfSpec&, Bytes& f) { At(f, 0, 'd'); }},
        DsfRefusal{"DsdChunkSize", [](DsfSpec&, Bytes& f) { At(f, 4, 27); }},
        DsfRefusal{"FmtChunkSize", [](DsfSpec&, Bytes& f) { At(f, 32, 51); }},
        DsfRefusal{"Version2", [](DsfSpec& s, Bytes&) { s.formatVersion = 2; }},
        DsfRefusal{"Compressed", [](DsfSpec& s, Bytes&) { s.formatId = 1; }},
        DsfRefusal{"SevenChannels", [](DsfSpec& s, Bytes&) { s.channels = 7; }},
        DsfRefusal{"ZeroChannels", [](DsfSpec&, Bytes& f) { At(f, 52, 0); }},
        DsfRefusal{"Rate3072000", [](DsfSpec& s, Bytes&) { s.rate = 3072000; }},
        DsfRefusal{"RateNotMultipleOf8", [](DsfSpec& s, Bytes&) { s.rate = 2822401; }},
        DsfRefusal{"Bits4", [](DsfSpec& s, Bytes&) { s.bitsPerSample = 4; }},
        DsfRefusal{"SevenSamples", [](DsfSpec& s, Bytes&) { s.sampleCount = 7; }},
        DsfRefusal{"MoreSamplesThanData",
                   [](DsfSpec& s, Bytes&) { s.sampleCount = 8ULL * (2 * 4096 * 2 + 12) + 1; }},
        DsfRefusal{"Block2048", [](DsfSpec&, Bytes& f) { At(f, 73, 0x08); }},
        DsfRefusal{"MetadataBeforeData",
                   [](DsfSpec& s, Bytes&) {
                     s.beforeData = {Chunk{"ID3 ", Bytes(10), {}}};
                   }},
        DsfRefusal{"TruncatedData",
                   [](DsfSpec&, Bytes& f) {
                     if (f.size() > 100) f.resize(f.size() - 1);
                   }}),
    [](const ::testing::TestParamInfo<DsfRefusal>& info) { return info.param.name; });

// ---- DSDIFF ------------------------------------------------------------------------------

TEST_F(DsdReaderTest, DsdiffBytesAreBitReversedIntoPairs) {
  const auto channels = Channels(2, 3000);
  ASSERT_EQ(Read(decode::ReadDsdiff, MakeDsdiff({}, channels)), kOk);
  EXPECT_EQ(slot_.Get<dsp::DsdBuffer>()->dsdRate, 2822400U);
  EXPECT_THAT(Data(), ElementsAreArray(Pairs(channels[0], channels[1])));
}

TEST_F(DsdReaderTest, DsdiffMonoSixChannelsAndSkippedChunks) {
  const auto mono = Channels(1, 777);
  DsdiffSpec spec;
  spec.channels = 1;
  ASSERT_EQ(Read(decode::ReadDsdiff, MakeDsdiff(spec, mono)), kOk);
  EXPECT_THAT(Data(), ElementsAreArray(Pairs(mono[0], mono[0])));

  const auto six = Channels(6, 1001);
  spec.channels = 6;
  spec.rate = 11289600;
  // A comment and an edit-master chunk of odd size (with their pad bytes), and an unknown
  // property, all skipped.
  spec.beforeData = {Chunk{"COMT", Bytes(13, 'c'), {}}, Chunk{"DIIN", Bytes(7, 'd'), {}}};
  spec.properties = {Chunk{"LSCO", Bytes(3, 1), {}}};
  ASSERT_EQ(Read(decode::ReadDsdiff, MakeDsdiff(spec, six)), kOk);
  EXPECT_THAT(Data(), ElementsAreArray(Pairs(six[0], six[1])));
}

TEST_F(DsdReaderTest, DsdiffTrailingPartialFrameIsIgnored) {
  const auto channels = Channels(2, 10);
  DsdiffSpec spec;
  spec.dataSize = 21;  // one byte of a third frame
  Bytes file = MakeDsdiff(spec, channels);
  file.push_back(0x77);
  ASSERT_EQ(Read(decode::ReadDsdiff, file), kOk);
  EXPECT_EQ(slot_.Get<dsp::DsdBuffer>()->length, 10U);
}

struct DsdiffRefusal {
  const char* name;
  std::function<void(DsdiffSpec&)> spoil;
};

void PrintTo(const DsdiffRefusal& c, std::ostream* os) { *os << c.name; }

class DsdiffRefusalTest : public DsdReaderTest,
                          public ::testing::WithParamInterface<DsdiffRefusal> {};

TEST_P(DsdiffRefusalTest, FailsWithTheSlotEmpty) {
  DsdiffSpec spec;
  GetParam().spoil(spec);
  EXPECT_NE(Read(decode::ReadDsdiff, MakeDsdiff(spec, Channels(spec.channels, 100))), kOk);
  EXPECT_TRUE(slot_.Empty());
}

INSTANTIATE_TEST_SUITE_P(
    Header, DsdiffRefusalTest,
    ::testing::Values(DsdiffRefusal{"NoCompressionChunk",
                                    [](DsdiffSpec& s) { s.withCompression = false; }},
                      DsdiffRefusal{"DstCompressed", [](DsdiffSpec& s) { s.compression = "DST "; }},
                      DsdiffRefusal{"Version2", [](DsdiffSpec& s) { s.version = 2; }},
                      DsdiffRefusal{"Rate3072000", [](DsdiffSpec& s) { s.rate = 3072000; }},
                      DsdiffRefusal{"Rate44100", [](DsdiffSpec& s) { s.rate = 44100; }},
                      DsdiffRefusal{"ZeroChannels", [](DsdiffSpec& s) { s.channels = 0; }},
                      DsdiffRefusal{"ZeroLength", [](DsdiffSpec& s) { s.dataSize = 1; }},
                      DsdiffRefusal{"DataPastTheEnd", [](DsdiffSpec& s) { s.dataSize = 100000; }},
                      DsdiffRefusal{"PropertyLargerThanProp",
                                    [](DsdiffSpec& s) {
                                      s.properties = {Chunk{"LSCO", Bytes(2), 1000}};
                                    }},
                      DsdiffRefusal{"RateChunkOfEightBytes",
                                    [](DsdiffSpec& s) {
                                      s.properties = {Chunk{"FS  ", Bytes(8), {}}};
                                    }},
                      DsdiffRefusal{"ChannelChunkOfOneByte",
                                    [](DsdiffSpec& s) {
                                      s.properties = {Chunk{"CHNL", Bytes(1), {}}};
                                    }}),
    [](const ::testing::TestParamInfo<DsdiffRefusal>& info) { return info.param.name; });

TEST_F(DsdReaderTest, DsdiffWithoutSoundDataOrStoppedFails) {
  Bytes file = MakeDsdiff({}, Channels(2, 100));
  file.resize(file.size() - 212);  // the sound data chunk is gone
  EXPECT_NE(Read(decode::ReadDsdiff, file), kOk);
  stop_.Store(1);
  EXPECT_NE(Read(decode::ReadDsdiff, MakeDsdiff({}, Channels(2, 100))), kOk);
  EXPECT_NE(Read(decode::ReadDsf, MakeDsf({}, Channels(2, 100))), kOk);
  EXPECT_TRUE(slot_.Empty());
}

}  // namespace
}  // namespace lumaro::testing
