#include "decode/wav_stream.h"

#include <cstring>

#include "decode/byte_order.h"
#include "platform/failure.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrTooShort = FirstCode(FailureSite::kWavStream),
  kErrNotRiff,
  kErrNotWave,
  kErrFormatNotFirst,
  kErrFormatSize,
  kErrFormatTag,
  kErrChannels,
  kErrRate,
  kErrBlockAlign,
  kErrBits,
  kErrChunk,
  kErrNoData,
  kErrTooFewValues,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kWavStream,
    kErrTooFewValues,
    {"stream shorter than its header", "stream not RIFF", "stream not WAVE",
     "stream format chunk not first", "stream format chunk size unexpected",
     "stream not 64-bit float", "stream not stereo", "stream rate out of range",
     "stream frame size not 16", "stream sample width not 64", "stream chunk size negative",
     "stream ends before its data", "stream holds fewer than two values"}};

// Offsets and values of the header.
constexpr std::uint64_t kHeaderBytes = 36;  // through the bits field
constexpr std::uint64_t kFirstChunk = 12;
constexpr std::uint64_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kPlainSize = 16;
constexpr std::uint32_t kPlainSizeWithExtra = 18;
constexpr std::uint32_t kExtensibleSize = 40;
constexpr std::uint16_t kFloatTag = 3;
constexpr std::uint16_t kExtensibleTag = 0xFFFE;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint32_t kMinRate = 8000;
constexpr std::uint32_t kMaxRate = 2147483647;
constexpr std::uint16_t kBlockAlign = 16;
constexpr std::uint16_t kBits = 64;
constexpr std::uint64_t kValueBytes = 8;
constexpr std::uint64_t kMinValues = 2;

// Checks the fixed header; answers the format chunk's rate.
Result CheckHeader(const unsigned char* h, std::uint32_t* rate) {
  if (!IsId(h, "RIFF")) return kFailures.Note(kErrNotRiff);
  if (!IsId(h + 8, "WAVE")) return kFailures.Note(kErrNotWave);
  if (!IsId(h + 12, "fmt ")) return kFailures.Note(kErrFormatNotFirst);
  const auto size = LoadLe<std::uint32_t>(h + 16);
  const bool plain = size == kPlainSize || size == kPlainSizeWithExtra;
  if (!plain && size != kExtensibleSize) return kFailures.Note(kErrFormatSize);
  if (LoadLe<std::uint16_t>(h + 20) != (plain ? kFloatTag : kExtensibleTag)) {
    return kFailures.Note(kErrFormatTag);
  }
  if (LoadLe<std::uint16_t>(h + 22) != kChannels) return kFailures.Note(kErrChannels);
  *rate = LoadLe<std::uint32_t>(h + 24);
  if (*rate < kMinRate || *rate > kMaxRate) return kFailures.Note(kErrRate);
  if (LoadLe<std::uint16_t>(h + 32) != kBlockAlign) return kFailures.Note(kErrBlockAlign);
  if (!plain && LoadLe<std::uint16_t>(h + 34) != kBits) return kFailures.Note(kErrBits);
  return kOk;
}

// Walks the chunks from the format chunk to "data"; answers the offset of its body. A chunk's
// odd-sized body is followed by its pad byte.
Result FindData(StreamBytes& bytes, std::uint64_t* dataOffset) {
  std::uint64_t offset = kFirstChunk;
  for (;;) {
    unsigned char chunk[kChunkHeaderBytes];
    if (!bytes.ReadAt(offset, chunk, sizeof chunk)) return kFailures.Note(kErrNoData);
    offset += kChunkHeaderBytes;
    if (IsId(chunk, "data")) {
      *dataOffset = offset;
      return kOk;
    }
    const auto size = LoadLe<std::int32_t>(chunk + 4);
    if (size < 0) return kFailures.Note(kErrChunk);
    const auto body = static_cast<std::uint64_t>(size);
    offset += body + (body & 1);
    if (offset > bytes.Length()) return kFailures.Note(kErrNoData);
  }
}

}  // namespace

bool SpanBytes::ReadAt(std::uint64_t offset, void* out, std::uint64_t count) {
  if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
  std::memcpy(out, bytes_.data() + offset, count);
  return true;
}

bool PagedBytes::ReadAt(std::uint64_t offset, void* out, std::uint64_t count) {
  if (offset > store_.Length() || count > store_.Length() - offset) return false;
  return store_.SetPosition(offset) && store_.Read(out, count) == count;
}

Result ParseFloatWavStream(StreamBytes& bytes, FloatWavStream* out) {
  unsigned char header[kHeaderBytes];
  if (!bytes.ReadAt(0, header, sizeof header)) return kFailures.Note(kErrTooShort);
  FloatWavStream stream;
  if (const Result checked = CheckHeader(header, &stream.sampleRate); checked != kOk) {
    return checked;
  }
  if (const Result found = FindData(bytes, &stream.dataOffset); found != kOk) return found;
  const std::uint64_t values = (bytes.Length() - stream.dataOffset) / kValueBytes;
  if (values < kMinValues) return kFailures.Note(kErrTooFewValues);
  stream.frames = values / 2;
  *out = stream;
  return kOk;
}

}  // namespace lumaro::decode
