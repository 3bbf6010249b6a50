#include "decode/byte_order.h"
#include "decode/cache_writer_frame.h"
#include "decode/cache_writers.h"
#include "decode/file_transfer.h"
#include "platform/failure.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrTooLarge = FirstCode(FailureSite::kWavCacheWriter),
  kErrStopped,
  kErrHeader,
  kErrData
};
constexpr platform::FailureNames kFailures{
    FailureSite::kWavCacheWriter,
    kErrData,
    {"WAV cache too large", "WAV cache write stopped", "WAV cache header write failed",
     "WAV cache data write failed"}};

constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint16_t kBits = 64;

}  // namespace

std::array<unsigned char, kWavCacheHeaderBytes> WavCacheHeader(std::uint32_t rate,
                                                               std::uint64_t frames) {
  const auto dataBytes = static_cast<std::uint32_t>(frames * dsp::kAudioFrameBytes);
  std::array<unsigned char, kWavCacheHeaderBytes> h{};
  unsigned char* p = h.data();
  StoreId(p, "RIFF");
  StoreLe<std::uint32_t>(p + 4, dataBytes + 50);
  StoreId(p + 8, "WAVE");
  StoreId(p + 12, "fmt ");
  StoreLe<std::uint32_t>(p + 16, 18);
  StoreLe<std::uint16_t>(p + 20, kTagFloat);
  StoreLe<std::uint16_t>(p + 22, kChannels);
  StoreLe<std::uint32_t>(p + 24, rate);
  StoreLe<std::uint32_t>(p + 28, rate * dsp::kAudioFrameBytes);
  StoreLe<std::uint16_t>(p + 32, dsp::kAudioFrameBytes);
  StoreLe<std::uint16_t>(p + 34, kBits);
  StoreLe<std::uint16_t>(p + 36, 0);
  StoreId(p + 38, "fact");
  StoreLe<std::uint32_t>(p + 42, 4);
  StoreLe<std::uint32_t>(p + 46, static_cast<std::uint32_t>(frames));
  StoreId(p + 50, "data");
  StoreLe<std::uint32_t>(p + 54, dataBytes);
  return h;
}

// The real frames of an AudioBuffer after a header, in pieces; shared with the Wave64 writer.
Result WriteAudioFrames(platform::File& file, std::u16string_view target,
                        const dsp::AudioBuffer& record, const platform::StopWord& stop) {
  const auto* data = reinterpret_cast<const unsigned char*>(record.Frame(0));
  const std::uint64_t total = record.frameCount * dsp::kAudioFrameBytes;
  for (std::uint64_t done = 0; done < total;) {
    if (stop.Load() != 0) return kFailures.Note(kErrStopped);
    const std::uint64_t piece = total - done < kCachePieceBytes ? total - done : kCachePieceBytes;
    if (WriteFully(file, data + done, piece) != piece)
      return kFailures.NoteSystemFailure(kErrData, target);
    done += piece;
  }
  return kOk;
}

Result WriteWavCache(std::u16string_view target, const dsp::AudioBuffer& record,
                     const platform::StopWord& stop) {
  return WithCreatedFile(target, [&](platform::File& file) -> Result {
    if (record.frameCount > kMaxWavCacheData / dsp::kAudioFrameBytes)
      return kFailures.Note(kErrTooLarge);
    if (stop.Load() != 0) return kFailures.Note(kErrStopped);
    const auto header = WavCacheHeader(record.sampleRate, record.frameCount);
    if (WriteFully(file, header.data(), header.size()) != header.size())
      return kFailures.NoteSystemFailure(kErrHeader, target);
    return WriteAudioFrames(file, target, record, stop);
  });
}

}  // namespace lumaro::decode
