#include "dsp/audio_buffer.h"

#include <cstring>
#include <new>

#include "platform/failure.h"

namespace lumaro::dsp {
namespace {
enum : Result {
  kErrRate = FirstCode(FailureSite::kAudioBuffer),
  kErrNoFrames,
  kErrTooLarge,
  kErrNoMemory
};
constexpr platform::FailureNames kFailures{
    FailureSite::kAudioBuffer,
    kErrNoMemory,
    {"audio buffer rate not supported", "audio buffer without frames", "audio buffer too large",
     "no memory for an audio buffer"}};

}  // namespace

namespace {

// The record's checks; on success `size` is its block size.
Result CheckAudioBuffer(std::uint32_t sampleRate, std::uint64_t frames, std::uint64_t leadIn,
                        std::uint64_t* size) noexcept {
  if (sampleRate < kMinSampleRate) return kFailures.Note(kErrRate);
  if (frames == 0) return kFailures.Note(kErrNoFrames);
  *size = AudioBufferBytes(frames, leadIn);
  if (*size == 0) return kFailures.Note(kErrTooLarge);
  return kOk;
}

// Both constructors: the checks, the block, and the fill of all of it or of all but the real
// frames.
Result MakeAudioBuffer(AudioBufferPtr& out, std::uint32_t sampleRate, std::uint64_t frames,
                       std::uint64_t leadIn, bool fillFrames) noexcept {
  out.reset();
  std::uint64_t size = 0;
  if (const Result checked = CheckAudioBuffer(sampleRate, frames, leadIn, &size); checked != kOk) {
    return checked;
  }
  void* block = GuardedAlloc(size);
  if (block == nullptr) return kFailures.Note(kErrNoMemory);
  if (fillFrames) {
    std::memset(block, kAudioBufferFill, size);
    out.reset(new (block) AudioBuffer{sampleRate, frames, leadIn});
  } else {
    out = AudioBufferInBlock(block, sampleRate, frames, leadIn);
  }
  return kOk;
}

}  // namespace

std::uint64_t AudioBufferBytes(std::uint64_t frames, std::uint64_t leadIn) noexcept {
  const Size128 bytes =
      sizeof(AudioBuffer) +
      (static_cast<Size128>(frames) + 2 * static_cast<Size128>(leadIn)) * kAudioFrameBytes;
  return bytes > kMaxBlock64 ? 0 : static_cast<std::uint64_t>(bytes);
}

AudioBufferPtr AudioBufferInBlock(void* block, std::uint32_t sampleRate, std::uint64_t frames,
                                  std::uint64_t leadIn) noexcept {
  auto* bytes = static_cast<unsigned char*>(block);
  const std::size_t head = sizeof(AudioBuffer) + leadIn * kAudioFrameBytes;
  const std::size_t frameBytes = frames * kAudioFrameBytes;
  std::memset(bytes, kAudioBufferFill, head);
  std::memset(bytes + head + frameBytes, kAudioBufferFill, leadIn * kAudioFrameBytes);
  return AudioBufferPtr(new (block) AudioBuffer{sampleRate, frames, leadIn});
}

Result NewAudioBuffer(AudioBufferPtr& out, std::uint32_t sampleRate, std::uint64_t frames,
                      std::uint64_t leadIn) noexcept {
  return MakeAudioBuffer(out, sampleRate, frames, leadIn, true);
}

Result AudioBufferAllowed(std::uint32_t sampleRate, std::uint64_t frames,
                          std::uint64_t leadIn) noexcept {
  std::uint64_t size = 0;
  if (const Result checked = CheckAudioBuffer(sampleRate, frames, leadIn, &size); checked != kOk) {
    return checked;
  }
  return MemoryGuardAnswer(size) == kOk ? kOk : kFailures.Note(kErrNoMemory);
}

Result NewAudioBufferToOverwrite(AudioBufferPtr& out, std::uint32_t sampleRate,
                                 std::uint64_t frames, std::uint64_t leadIn) noexcept {
  return MakeAudioBuffer(out, sampleRate, frames, leadIn, false);
}

}  // namespace lumaro::dsp
