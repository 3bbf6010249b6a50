#include "decode/dsf_reader.h"

#include <algorithm>

#include "decode/byte_order.h"
#include "decode/file_transfer.h"
#include "decode/reader_context.h"
#include "dsp/bit_reverse.h"
#include "dsp/pages_ahead.h"
#include "platform/device_formats.h"
#include "platform/failure.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrContext = FirstCode(FailureSite::kDsfReader),
  kErrOpen,
  kErrHeader,
  kErrBuffer,
  kErrStopped,
  kErrShortData,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kDsfReader,
    kErrShortData,
    {"DSF reader record refused", "DSF open failed", "DSF header bad", "DSF sample buffer failed",
     "DSF read stopped", "DSF data shorter than its header says"}};

constexpr std::size_t kHeaderBytes = 92;
constexpr std::uint64_t kDsdChunkSize = 28;
constexpr std::uint64_t kFmtChunkSize = 52;
constexpr std::uint32_t kBlockBytes = 4096;
constexpr std::uint32_t kMaxChannels = 6;
constexpr std::uint32_t kMinRate = 64000;
constexpr std::uint64_t kMinSamples = 8;

struct DsfContext {
  const platform::StopWord* stop;
  std::unique_ptr<platform::File> file;
  dsp::DsdBufferPtr buffer;
  std::uint32_t channels;
  std::uint32_t samplingFrequency;
  std::uint32_t bitsPerSample;
  std::uint64_t sampleCount;
  std::uint64_t dataSize;
};

// Step 3: the header, field by field in file order.
Result ReadHeader(DsfContext& c) {
  unsigned char h[kHeaderBytes];
  if (ReadFully(*c.file, h, sizeof h) != sizeof h) return kErrHeader;
  if (!IsId(h, "DSD ") || LoadLe<std::uint64_t>(h + 4) != kDsdChunkSize) return kErrHeader;
  if (!IsId(h + 28, "fmt ") || LoadLe<std::uint64_t>(h + 32) != kFmtChunkSize) return kErrHeader;
  if (LoadLe<std::uint32_t>(h + 40) != 1 || LoadLe<std::uint32_t>(h + 44) != 0) return kErrHeader;
  c.channels = LoadLe<std::uint32_t>(h + 52);
  if (c.channels < 1 || c.channels > kMaxChannels) return kErrHeader;
  c.samplingFrequency = LoadLe<std::uint32_t>(h + 56);
  if (c.samplingFrequency < kMinRate || c.samplingFrequency % 8 != 0) return kErrHeader;
  c.bitsPerSample = LoadLe<std::uint32_t>(h + 60);
  if (c.bitsPerSample != 1 && c.bitsPerSample != 8) return kErrHeader;
  c.sampleCount = LoadLe<std::uint64_t>(h + 64);
  if (c.sampleCount < kMinSamples) return kErrHeader;
  if (LoadLe<std::uint32_t>(h + 72) != kBlockBytes) return kErrHeader;
  if (!IsId(h + 80, "data")) return kErrHeader;
  c.dataSize = LoadLe<std::uint64_t>(h + 84);
  if (c.sampleCount / 8 > c.dataSize || (c.sampleCount / 8 == c.dataSize && c.sampleCount % 8)) {
    return kErrHeader;  // more samples than 8 × the data size
  }
  return kOk;
}

// Step 5: whole groups of channels × 4096 bytes, as many as fit in the read area per read.
Result ReadBlocks(DsfContext& c) {
  dsp::DsdBuffer& b = *c.buffer;
  const std::uint64_t groupBytes = std::uint64_t{c.channels} * kBlockBytes;
  const std::uint64_t groupsPerRead = kReadBlockBytes / groupBytes;
  const std::uint64_t groups = (b.length + kBlockBytes - 1) / kBlockBytes;
  unsigned char* area = ScratchOf(c);
  unsigned char* out = b.Data();
  const dsp::PagesAhead pagesAhead(dsp::ByteRange{out, 2 * b.length}, 1);
  std::uint64_t group = 0;
  while (group < groups) {
    if (c.stop->Load() != 0) return kErrStopped;
    const std::uint64_t count = std::min(groupsPerRead, groups - group);
    const std::uint64_t bytes = count * groupBytes;
    if (ReadFully(*c.file, area, bytes) != bytes) return kErrShortData;
    for (std::uint64_t g = 0; g < count; ++g, ++group) {
      const unsigned char* left = area + g * groupBytes;
      const unsigned char* right = c.channels >= 2 ? left + kBlockBytes : left;
      const std::uint64_t n = std::min<std::uint64_t>(kBlockBytes, b.length - group * kBlockBytes);
      platform::InterleaveChannels<1>(left, right, n, out);
      // Eight bits a sample store the earliest sample in bit 7; one bit a sample, in bit 0, as
      // the record does.
      if (c.bitsPerSample != 1) dsp::ReverseBitsOf(out, out, 2 * n);
      out += 2 * n;
    }
  }
  return kOk;
}

Result ReadOpenFile(DsfContext& c) {
  if (const Result header = ReadHeader(c); header != kOk) return header;
  // Step 4: a partly used last byte counts.
  const std::uint64_t length = c.sampleCount / 8 + (c.sampleCount % 8 != 0 ? 1 : 0);
  // Step 5 reads whole blocks of every channel.
  const std::uint64_t blocks = length / kBlockBytes + (length % kBlockBytes != 0 ? 1 : 0);
  if (!FileHolds(*c.file, blocks * c.channels * kBlockBytes)) return kErrShortData;
  if (dsp::NewDsdBufferToOverwrite(c.buffer, c.samplingFrequency, length) != kOk) return kErrBuffer;
  const Result read = ReadBlocks(c);
  if (read != kOk) c.buffer.reset();
  return read;
}

}  // namespace

Result ReadDsf(std::u16string_view path, dsp::BufferSlot& slot, const platform::StopWord& stop) {
  return kFailures.Note(
      ReadFileWith<DsfContext>(path, slot, stop, kErrContext, kErrOpen, ReadOpenFile), path);
}

}  // namespace lumaro::decode
