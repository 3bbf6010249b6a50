#include "decode/wav_reader.h"

#include <array>
#include <cstring>

#include "decode/byte_order.h"
#include "decode/file_transfer.h"
#include "decode/reader_context.h"
#include "dsp/pages_ahead.h"
#include "platform/failure.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrContext = FirstCode(FailureSite::kWavReader),
  kErrOpen,
  kErrRiffHeader,
  kErrChunkHeader,
  kErrStopped,
  kErrSeek,
  kErrFormatSize,
  kErrFormatRead,
  kErrFormat,
  kErrChannels,
  kErrRate,
  kErrNoFrames,
  kErrBuffer,
  kErrShortData,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kWavReader,
    kErrShortData,
    {"WAV reader record refused", "WAV open failed", "WAV RIFF header bad",
     "WAV chunk header short", "WAV read stopped", "WAV seek failed", "WAV format size bad",
     "WAV format read short", "WAV format not supported", "WAV channel count not supported",
     "WAV sample rate too low", "WAV has no frames", "WAV sample buffer failed",
     "WAV data shorter than its header says"}};

constexpr std::uint64_t kFirstChunk = 12;
constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kTagExtensible = 0xFFFE;
constexpr std::uint32_t kMinExtensibleSize = 22;
constexpr std::size_t kMaxFormatSize = 40;

// Sub-format GUIDs of the extensible format, as stored in the file.
constexpr std::array<unsigned char, 16> kSubFormatPcm = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
constexpr std::array<unsigned char, 16> kSubFormatFloat = {
    0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

struct WavContext {
  std::u16string_view path;
  const platform::StopWord* stop;
  dsp::PcmBufferPtr buffer;
  std::unique_ptr<platform::File> file;
  std::uint16_t sampleFormat;  // recorded: kPcmInteger or kPcmFloat
  std::uint16_t channels;
  std::uint16_t validBits;
  std::uint16_t containerBits;
  std::uint32_t sampleRate;
  std::uint32_t dataSize;
};

bool IsIntegerWidth(unsigned bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }
bool IsFloatWidth(unsigned bits) { return bits == 32 || bits == 64; }

// Walks the chunks from offset 12 until one named `id`; answers its body size, with the file
// positioned at the body. Honours the pad byte after an odd-sized body.
Result FindChunk(WavContext& c, std::string_view id, std::uint32_t* size) {
  if (!c.file->Seek(kFirstChunk)) return kErrSeek;
  std::uint64_t offset = kFirstChunk;
  for (;;) {
    unsigned char header[8];
    if (ReadFully(*c.file, header, sizeof header) != sizeof header) return kErrChunkHeader;
    if (c.stop->Load() != 0) return kErrStopped;
    const std::uint32_t bodySize = LoadLe<std::uint32_t>(header + 4);
    if (IsId(header, id)) {
      *size = bodySize;
      return kOk;
    }
    offset += sizeof header + bodySize + (bodySize & 1U);
    if (!c.file->Seek(offset)) return kErrSeek;
  }
}

// Step 4, second half: the format chunk's checks and what it records.
Result ReadFormat(WavContext& c, std::uint32_t size) {
  if (size != 16 && size != 18 && size != kMaxFormatSize) return kErrFormatSize;
  unsigned char body[kMaxFormatSize] = {};
  if (ReadFully(*c.file, body, size) != size) return kErrFormatRead;
  const std::uint16_t tag = LoadLe<std::uint16_t>(body);
  c.channels = LoadLe<std::uint16_t>(body + 2);
  c.sampleRate = LoadLe<std::uint32_t>(body + 4);
  c.containerBits = LoadLe<std::uint16_t>(body + 14);
  c.validBits = c.containerBits;
  if (tag == kTagPcm && IsIntegerWidth(c.containerBits)) {
    c.sampleFormat = dsp::kPcmInteger;
  } else if (tag == kTagFloat && IsFloatWidth(c.containerBits)) {
    c.sampleFormat = dsp::kPcmFloat;
  } else if (tag == kTagExtensible && size >= kMinExtensibleSize) {
    c.validBits = LoadLe<std::uint16_t>(body + 18);
    // Containers that are not whole bytes cannot be walked frame by frame: refused.
    if (c.validBits > c.containerBits || c.containerBits % 8 != 0) return kErrFormat;
    if (std::memcmp(body + 24, kSubFormatPcm.data(), 16) == 0 && IsIntegerWidth(c.validBits)) {
      c.sampleFormat = dsp::kPcmInteger;
    } else if (std::memcmp(body + 24, kSubFormatFloat.data(), 16) == 0 &&
               IsFloatWidth(c.validBits)) {
      c.sampleFormat = dsp::kPcmFloat;
    } else {
      return kErrFormat;
    }
  } else {
    return kErrFormat;
  }
  if (c.channels != 1 && c.channels != 2) return kErrChannels;
  if (c.sampleRate < dsp::kMinSampleRate) return kErrRate;
  return kOk;
}

// Step 7: the samples, straight into the buffer or repacked through the scratch area.
Result ReadSamples(WavContext& c) {
  dsp::PcmBuffer& b = *c.buffer;
  const std::uint64_t containerBytes = c.containerBits / 8U;
  const std::uint64_t validBytes = c.validBits / 8U;
  const std::uint64_t containers = b.frameCount * c.channels;
  const std::uint64_t blockBytes = kReadBlockBytes / containerBytes * containerBytes;
  unsigned char* out = b.Data();
  const dsp::PagesAhead pagesAhead(dsp::ByteRange{out, containers * validBytes}, 1);
  if (validBytes == containerBytes) {
    for (std::uint64_t left = containers * containerBytes; left > 0;) {
      if (c.stop->Load() != 0) return kErrStopped;
      const std::uint64_t piece = left < blockBytes ? left : blockBytes;
      if (ReadFully(*c.file, out, piece) != piece) return kErrShortData;
      out += piece;
      left -= piece;
    }
    return kOk;
  }
  unsigned char* scratch = ScratchOf(c);
  const std::uint64_t skip = containerBytes - validBytes;
  for (std::uint64_t left = containers * containerBytes; left > 0;) {
    if (c.stop->Load() != 0) return kErrStopped;
    const std::uint64_t piece = left < blockBytes ? left : blockBytes;
    if (ReadFully(*c.file, scratch, piece) != piece) return kErrShortData;
    for (const unsigned char* in = scratch; in < scratch + piece; in += containerBytes) {
      std::memcpy(out, in + skip, validBytes);
      out += validBytes;
    }
    left -= piece;
  }
  return kOk;
}

// Steps 3 to 7 on the open file.
Result ReadOpenFile(WavContext& c) {
  unsigned char riff[12];
  if (ReadFully(*c.file, riff, sizeof riff) != sizeof riff || !IsId(riff, "RIFF") ||
      !IsId(riff + 8, "WAVE")) {
    return kErrRiffHeader;
  }
  std::uint32_t formatSize = 0;
  if (const Result found = FindChunk(c, "fmt ", &formatSize); found != kOk) return found;
  if (const Result format = ReadFormat(c, formatSize); format != kOk) return format;
  if (const Result found = FindChunk(c, "data", &c.dataSize); found != kOk) return found;

  const std::uint64_t frames = c.dataSize / c.channels / (c.containerBits / 8U);
  if (frames == 0) return kErrNoFrames;
  if (!FileHolds(*c.file, frames * c.channels * (c.containerBits / 8U))) return kErrShortData;
  // ReadSamples writes every real frame, or the buffer is dropped: no zeros are written first.
  if (dsp::NewPcmBufferToOverwrite(c.buffer, c.sampleFormat, static_cast<std::uint8_t>(c.channels),
                                   static_cast<std::uint8_t>(c.validBits), c.sampleRate,
                                   frames) != kOk) {
    return kErrBuffer;
  }
  const Result read = ReadSamples(c);
  if (read != kOk) c.buffer.reset();
  return read;
}

}  // namespace

Result ReadWav(std::u16string_view path, dsp::BufferSlot& slot, const platform::StopWord& stop) {
  const Result result =
      ReadFileWith<WavContext>(path, slot, stop, kErrContext, kErrOpen, [&](WavContext& c) {
        c.path = path;
        return ReadOpenFile(c);
      });
  return kFailures.Note(result, path);
}

}  // namespace lumaro::decode
