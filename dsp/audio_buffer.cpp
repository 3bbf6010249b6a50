#include "dsp/audio_buffer.h"

#include <cstring>
#include <new>

namespace lumaro::dsp {
namespace {
enum : Result { kErrRate = 1, kErrNoFrames, kErrTooLarge, kErrNoMemory };
}

Result NewAudioBuffer(AudioBufferPtr& out, std::uint32_t sampleRate, std::uint64_t frames,
                      std::uint64_t leadIn) noexcept {
  out.reset();
  if (sampleRate < kMinSampleRate) return kErrRate;
  if (frames == 0) return kErrNoFrames;
  const Size128 size =
      sizeof(AudioBuffer) +
      (static_cast<Size128>(frames) + 2 * static_cast<Size128>(leadIn)) * kAudioFrameBytes;
  if (size > kMaxBlock64) return kErrTooLarge;
  void* block = GuardedAlloc(static_cast<std::uint64_t>(size));
  if (block == nullptr) return kErrNoMemory;
  std::memset(block, kAudioBufferFill, static_cast<std::size_t>(size));
  auto* buffer = new (block) AudioBuffer;
  buffer->sampleRate = sampleRate;
  buffer->frameCount = frames;
  buffer->leadIn = leadIn;
  out.reset(buffer);
  return kOk;
}

}  // namespace lumaro::dsp
