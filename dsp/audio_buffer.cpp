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

Result NewAudioBuffer(AudioBufferPtr& out, std::uint32_t sampleRate, std::uint64_t frames,
                      std::uint64_t leadIn) noexcept {
  out.reset();
  if (sampleRate < kMinSampleRate) return kFailures.Note(kErrRate);
  if (frames == 0) return kFailures.Note(kErrNoFrames);
  const Size128 size =
      sizeof(AudioBuffer) +
      (static_cast<Size128>(frames) + 2 * static_cast<Size128>(leadIn)) * kAudioFrameBytes;
  if (size > kMaxBlock64) return kFailures.Note(kErrTooLarge);
  void* block = GuardedAlloc(static_cast<std::uint64_t>(size));
  if (block == nullptr) return kFailures.Note(kErrNoMemory);
  std::memset(block, kAudioBufferFill, static_cast<std::size_t>(size));
  auto* buffer = new (block) AudioBuffer;
  buffer->sampleRate = sampleRate;
  buffer->frameCount = frames;
  buffer->leadIn = leadIn;
  out.reset(buffer);
  return kOk;
}

}  // namespace lumaro::dsp
