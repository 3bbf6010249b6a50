#include "decode/dsdiff_reader.h"

#include <algorithm>

#include "decode/byte_order.h"
#include "decode/file_transfer.h"
#include "decode/reader_context.h"
#include "dsp/bit_reverse.h"
#include "dsp/pages_ahead.h"
#include "platform/failure.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrContext = FirstCode(FailureSite::kDsdiffReader),
  kErrOpen,
  kErrForm,
  kErrVersion,
  kErrProperties,
  kErrSubChunk,
  kErrRateChunk,
  kErrChannelChunk,
  kErrCompression,
  kErrNoCompression,
  kErrNoChannels,
  kErrRate,
  kErrNoSoundData,
  kErrNoLength,
  kErrBuffer,
  kErrStopped,
  kErrShortData,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kDsdiffReader,
    kErrShortData,
    {"DSDIFF reader record refused", "DSDIFF open failed", "DSDIFF FRM8 form bad",
     "DSDIFF version not supported", "DSDIFF properties bad", "DSDIFF property chunk bad",
     "DSDIFF rate chunk bad", "DSDIFF channel chunk bad", "DSDIFF compression not DSD",
     "DSDIFF compression chunk missing", "DSDIFF channels missing", "DSDIFF sample rate too low",
     "DSDIFF sound data missing", "DSDIFF sound data empty", "DSDIFF sample buffer failed",
     "DSDIFF read stopped", "DSDIFF data shorter than its header says"}};

constexpr std::uint64_t kChunkHeaderBytes = 12;
constexpr std::uint32_t kMinRate = 64000;
constexpr std::uint64_t kSkipPiece = 4096;

struct DsdiffContext {
  const platform::StopWord* stop;
  std::unique_ptr<platform::File> file;
  dsp::DsdBufferPtr buffer;
  std::uint16_t channels;
  std::uint32_t sampleRate;
  std::uint64_t length;  // bytes per channel
  bool compressionSeen;
};

bool ReadExactly(DsdiffContext& c, void* to, std::uint64_t bytes) {
  return ReadFully(*c.file, to, bytes) == bytes;
}

// Consumes `bytes` by reading them (the reader never seeks).
bool Skip(DsdiffContext& c, std::uint64_t bytes) {
  unsigned char piece[kSkipPiece];
  while (bytes > 0) {
    const std::uint64_t n = std::min(bytes, kSkipPiece);
    if (!ReadExactly(c, piece, n)) return false;
    bytes -= n;
  }
  return true;
}

struct ChunkHeader {
  unsigned char id[4];
  std::uint64_t size;
};

bool ReadChunkHeader(DsdiffContext& c, ChunkHeader* header) {
  unsigned char raw[kChunkHeaderBytes];
  if (!ReadExactly(c, raw, sizeof raw)) return false;
  std::copy(raw, raw + 4, header->id);
  header->size = LoadBe<std::uint64_t>(raw + 4);
  return true;
}

// The property chunk's sub-chunks, each required to fit in what remains of its body.
Result ReadProperties(DsdiffContext& c, std::uint64_t remaining) {
  while (remaining > 0) {
    if (remaining < kChunkHeaderBytes) return kErrSubChunk;
    ChunkHeader h;
    if (!ReadChunkHeader(c, &h)) return kErrSubChunk;
    remaining -= kChunkHeaderBytes;
    if (h.size > remaining) return kErrSubChunk;
    remaining -= h.size;
    if (IsId(h.id, "FS  ")) {
      unsigned char rate[4];
      if (h.size != 4) return kErrRateChunk;
      if (!ReadExactly(c, rate, 4)) return kErrSubChunk;
      c.sampleRate = LoadBe<std::uint32_t>(rate);
    } else if (IsId(h.id, "CHNL")) {
      unsigned char count[2];
      if (h.size < 2) return kErrChannelChunk;
      if (!ReadExactly(c, count, 2) || !Skip(c, h.size - 2)) return kErrSubChunk;
      c.channels = LoadBe<std::uint16_t>(count);
    } else if (IsId(h.id, "CMPR")) {
      unsigned char type[4];
      if (h.size < 4) return kErrCompression;
      if (!ReadExactly(c, type, 4)) return kErrSubChunk;
      if (!IsId(type, "DSD ")) return kErrCompression;
      if (!Skip(c, h.size - 4)) return kErrSubChunk;
      c.compressionSeen = true;
    } else if (!Skip(c, h.size)) {
      return kErrSubChunk;
    }
    // The pad byte of an odd-sized body, when the property chunk holds it.
    if ((h.size & 1U) != 0 && remaining > 0) {
      if (!Skip(c, 1)) return kErrSubChunk;
      --remaining;
    }
  }
  return kOk;
}

// Step 3: the fixed start, the properties and the walk to the sound data chunk.
Result ReadHeader(DsdiffContext& c) {
  unsigned char form[16];
  if (!ReadExactly(c, form, sizeof form) || !IsId(form, "FRM8") || !IsId(form + 12, "DSD ")) {
    return kErrForm;
  }
  ChunkHeader h;
  unsigned char version[4];
  if (!ReadChunkHeader(c, &h) || !IsId(h.id, "FVER") || h.size != 4) return kErrVersion;
  if (!ReadExactly(c, version, 4) || version[0] != 1) return kErrVersion;
  unsigned char propertyType[4];
  if (!ReadChunkHeader(c, &h) || !IsId(h.id, "PROP") || h.size < 4) return kErrProperties;
  if (!ReadExactly(c, propertyType, 4) || !IsId(propertyType, "SND ")) return kErrProperties;
  if (const Result properties = ReadProperties(c, h.size - 4); properties != kOk) {
    return properties;
  }
  if ((h.size & 1U) != 0 && !Skip(c, 1)) return kErrProperties;
  if (c.channels == 0) return kErrNoChannels;
  if (c.sampleRate < kMinRate) return kErrRate;
  if (!c.compressionSeen) return kErrNoCompression;
  for (;;) {
    if (!ReadChunkHeader(c, &h)) return kErrNoSoundData;
    if (IsId(h.id, "DSD ")) break;
    if (!Skip(c, h.size) || ((h.size & 1U) != 0 && !Skip(c, 1))) return kErrNoSoundData;
  }
  c.length = h.size / c.channels;
  if (c.length == 0) return kErrNoLength;
  return kOk;
}

// Step 5: frames of channel-count bytes, read in blocks of whole frames.
Result ReadSoundData(DsdiffContext& c) {
  const std::uint64_t frameBytes = c.channels;
  const std::uint64_t blockBytes = kReadBlockBytes / frameBytes * frameBytes;
  const std::uint64_t second = c.channels >= 2 ? 1 : 0;
  unsigned char* area = ScratchOf(c);
  unsigned char* out = c.buffer->Data();
  const dsp::PagesAhead pagesAhead(dsp::ByteRange{out, 2 * c.length}, 1);
  for (std::uint64_t left = frameBytes * c.length; left > 0;) {
    if (c.stop->Load() != 0) return kErrStopped;
    const std::uint64_t piece = std::min(left, blockBytes);
    if (!ReadExactly(c, area, piece)) return kErrShortData;
    if (c.channels == 2) {  // the frames are the record's byte pairs
      dsp::ReverseBitsOf(area, out, piece);
      out += piece;
    } else {
      for (const unsigned char* in = area; in < area + piece; in += frameBytes) {
        out[0] = dsp::kBitReversed[in[0]];
        out[1] = dsp::kBitReversed[in[second]];
        out += 2;
      }
    }
    left -= piece;
  }
  return kOk;
}

Result ReadOpenFile(DsdiffContext& c) {
  if (const Result header = ReadHeader(c); header != kOk) return header;
  // Step 4.
  if (!FileHolds(*c.file, c.length * c.channels)) return kErrShortData;
  if (dsp::NewDsdBufferToOverwrite(c.buffer, c.sampleRate, c.length) != kOk) return kErrBuffer;
  const Result read = ReadSoundData(c);
  if (read != kOk) c.buffer.reset();
  return read;
}

}  // namespace

Result ReadDsdiff(std::u16string_view path, dsp::BufferSlot& slot, const platform::StopWord& stop) {
  return kFailures.Note(
      ReadFileWith<DsdiffContext>(path, slot, stop, kErrContext, kErrOpen, ReadOpenFile), path);
}

}  // namespace lumaro::decode
