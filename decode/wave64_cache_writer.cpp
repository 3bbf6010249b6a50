#include "decode/byte_order.h"
#include "decode/cache_writer_frame.h"
#include "decode/cache_writers.h"
#include "decode/file_transfer.h"
#include "platform/failure.h"

namespace lumaro::decode {

namespace {

enum : Result { kErrStopped = FirstCode(FailureSite::kWave64CacheWriter), kErrHeader };
constexpr platform::FailureNames kFailures{
    FailureSite::kWave64CacheWriter,
    kErrHeader,
    {"Wave64 cache write stopped", "Wave64 cache header write failed"}};

constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint16_t kBits = 64;
constexpr std::uint64_t kChunkHeaderBytes = 24;  // GUID and 64-bit size

// A GUID in its usual byte order: the first three groups little-endian, the rest as written.
struct Guid {
  std::uint32_t a;
  std::uint16_t b, c;
  std::array<unsigned char, 8> d;
};

constexpr Guid kRiff = {0x66666972, 0x912e, 0x11cf, {0xa5, 0xd6, 0x28, 0xdb, 0x04, 0xc1, 0, 0}};
constexpr Guid kWave = {
    0x65766177, 0xacf3, 0x11d3, {0x8c, 0xd1, 0x00, 0xc0, 0x4f, 0x8e, 0xdb, 0x8a}};
constexpr Guid kFmt = {
    0x20746d66, 0xacf3, 0x11d3, {0x8c, 0xd1, 0x00, 0xc0, 0x4f, 0x8e, 0xdb, 0x8a}};
constexpr Guid kFact = {
    0x74636166, 0xacf3, 0x11d3, {0x8c, 0xd1, 0x00, 0xc0, 0x4f, 0x8e, 0xdb, 0x8a}};
constexpr Guid kData = {
    0x61746164, 0xacf3, 0x11d3, {0x8c, 0xd1, 0x00, 0xc0, 0x4f, 0x8e, 0xdb, 0x8a}};

void StoreGuid(unsigned char* p, const Guid& g) {
  StoreLe(p, g.a);
  StoreLe(p + 4, g.b);
  StoreLe(p + 6, g.c);
  for (std::size_t i = 0; i < g.d.size(); ++i) p[8 + i] = g.d[i];
}

}  // namespace

std::array<unsigned char, kWave64CacheHeaderBytes> Wave64CacheHeader(std::uint32_t rate,
                                                                     std::uint64_t frames) {
  const std::uint64_t dataBytes = frames * dsp::kAudioFrameBytes;
  std::array<unsigned char, kWave64CacheHeaderBytes> h{};
  unsigned char* p = h.data();
  StoreGuid(p, kRiff);
  StoreLe<std::uint64_t>(p + 16, dataBytes + kWave64CacheHeaderBytes);
  StoreGuid(p + 24, kWave);
  StoreGuid(p + 40, kFmt);
  StoreLe<std::uint64_t>(p + 56, 40);
  StoreLe<std::uint16_t>(p + 64, kTagFloat);
  StoreLe<std::uint16_t>(p + 66, kChannels);
  StoreLe<std::uint32_t>(p + 68, rate);
  StoreLe<std::uint32_t>(p + 72, rate * dsp::kAudioFrameBytes);
  StoreLe<std::uint16_t>(p + 76, dsp::kAudioFrameBytes);
  StoreLe<std::uint16_t>(p + 78, kBits);
  StoreGuid(p + 80, kFact);
  StoreLe<std::uint64_t>(p + 96, 32);
  StoreLe<std::uint64_t>(p + 104, frames);
  StoreGuid(p + 112, kData);
  StoreLe<std::uint64_t>(p + 128, dataBytes + kChunkHeaderBytes);
  return h;
}

Result WriteWave64Cache(std::u16string_view target, const dsp::AudioBuffer& record,
                        const platform::StopWord& stop) {
  return WithCreatedFile(target, [&](platform::File& file) -> Result {
    if (stop.Load() != 0) return kFailures.Note(kErrStopped);
    const auto header = Wave64CacheHeader(record.sampleRate, record.frameCount);
    if (WriteFully(file, header.data(), header.size()) != header.size())
      return kFailures.NoteSystemFailure(kErrHeader, target);
    return WriteAudioFrames(file, target, record, stop);
  });
}

}  // namespace lumaro::decode
