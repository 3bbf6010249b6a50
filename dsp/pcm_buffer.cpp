#include "dsp/pcm_buffer.h"

#include <cstring>
#include <new>

#include "dsp/audio_buffer.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {
enum : Result {
  kErrFormat = FirstCode(FailureSite::kPcmBuffer),
  kErrChannels,
  kErrBits,
  kErrRate,
  kErrTooLarge,
  kErrNoMemory
};
constexpr platform::FailureNames kFailures{
    FailureSite::kPcmBuffer,
    kErrNoMemory,
    {"PCM buffer format not supported", "PCM buffer channel count not supported",
     "PCM buffer width not supported", "PCM buffer rate too low", "PCM buffer too large",
     "no memory for a PCM buffer"}};

bool IsPcmWidth(std::uint8_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 64;
}
}  // namespace

namespace {

// The constructors' checks of a layout; its block size into `size`.
Result CheckPcmBuffer(std::uint16_t sampleFormat, std::uint8_t channels, std::uint8_t bits,
                      std::uint32_t sampleRate, std::uint64_t frames, std::uint64_t* size) {
  if (sampleFormat != kPcmInteger && sampleFormat != kPcmFloat) return kFailures.Note(kErrFormat);
  if (channels != 1 && channels != 2) return kFailures.Note(kErrChannels);
  if (!IsPcmWidth(bits)) return kFailures.Note(kErrBits);
  if (sampleRate < kMinSampleRate) return kFailures.Note(kErrRate);
  *size = PcmBufferBytes(channels, bits, frames);
  if (*size == 0) return kFailures.Note(kErrTooLarge);
  return kOk;
}

// Both constructors: the checks, the block, and zeros over all of it or all but the real frames.
Result MakePcmBuffer(PcmBufferPtr& out, std::uint16_t sampleFormat, std::uint8_t channels,
                     std::uint8_t bits, std::uint32_t sampleRate, std::uint64_t frames,
                     bool zeroFrames) noexcept {
  out.reset();
  std::uint64_t size = 0;
  if (const Result checked =
          CheckPcmBuffer(sampleFormat, channels, bits, sampleRate, frames, &size);
      checked != kOk) {
    return checked;
  }
  void* block = GuardedAlloc(size);
  if (block == nullptr) return kFailures.Note(kErrNoMemory);
  if (zeroFrames) std::memset(block, 0, static_cast<std::size_t>(size));
  out = PcmBufferInBlock(block, sampleFormat, channels, bits, sampleRate, frames);
  return kOk;
}

}  // namespace

std::uint64_t PcmBufferBytes(std::uint8_t channels, std::uint8_t bits,
                             std::uint64_t frames) noexcept {
  const std::uint64_t frameBytes = bits / 8U * channels;
  const Size128 size =
      sizeof(PcmBuffer) + (static_cast<Size128>(frames) + 2 * kPcmLeadIn) * frameBytes;
  return size > kMaxBlock63 ? 0 : static_cast<std::uint64_t>(size);
}

PcmBufferPtr PcmBufferInBlock(void* block, std::uint16_t sampleFormat, std::uint8_t channels,
                              std::uint8_t bits, std::uint32_t sampleRate,
                              std::uint64_t frames) noexcept {
  auto* bytes = static_cast<unsigned char*>(block);
  const std::size_t leadIn = kPcmLeadIn * (bits / 8U * channels);
  std::memset(bytes, 0, sizeof(PcmBuffer) + leadIn);
  std::memset(bytes + sizeof(PcmBuffer) + leadIn + frames * (bits / 8U * channels), 0, leadIn);
  auto* buffer = new (block) PcmBuffer;
  buffer->sampleFormat = sampleFormat;
  buffer->channels = channels;
  buffer->bits = bits;
  buffer->sampleRate = sampleRate;
  buffer->frameCount = frames;
  buffer->leadIn = kPcmLeadIn;
  return PcmBufferPtr(buffer);
}

Result NewPcmBuffer(PcmBufferPtr& out, std::uint16_t sampleFormat, std::uint8_t channels,
                    std::uint8_t bits, std::uint32_t sampleRate, std::uint64_t frames) noexcept {
  return MakePcmBuffer(out, sampleFormat, channels, bits, sampleRate, frames, true);
}

Result PcmBufferAllowed(std::uint16_t sampleFormat, std::uint8_t channels, std::uint8_t bits,
                        std::uint32_t sampleRate, std::uint64_t frames) noexcept {
  std::uint64_t size = 0;
  if (const Result checked =
          CheckPcmBuffer(sampleFormat, channels, bits, sampleRate, frames, &size);
      checked != kOk) {
    return checked;
  }
  return MemoryGuardAnswer(size) == kOk ? kOk : kFailures.Note(kErrNoMemory);
}

Result NewPcmBufferToOverwrite(PcmBufferPtr& out, std::uint16_t sampleFormat, std::uint8_t channels,
                               std::uint8_t bits, std::uint32_t sampleRate,
                               std::uint64_t frames) noexcept {
  return MakePcmBuffer(out, sampleFormat, channels, bits, sampleRate, frames, false);
}

}  // namespace lumaro::dsp
