#pragma once

#include <cstdint>

#include "dsp/record_ptr.h"
#include "platform/result.h"

namespace lumaro::dsp {

// Two channels of 64-bit float, the working format of every stage. One heap block: this header,
// then (leadIn + frameCount + leadIn) frames of {left, right}. Real frame 0 is sample-area frame
// leadIn; the lead-in frames on both sides are padding that a stage fills when it needs them.
struct AudioBuffer {
  std::uint32_t sampleRate;
  std::uint64_t frameCount;
  std::uint64_t leadIn;

  double* Samples() noexcept { return reinterpret_cast<double*>(this + 1); }
  const double* Samples() const noexcept { return reinterpret_cast<const double*>(this + 1); }
  // Left sample of real frame `frame` (its right sample follows); the lead-in is frame -leadIn.
  double* Frame(std::int64_t frame) noexcept {
    return Samples() + 2 * (static_cast<std::int64_t>(leadIn) + frame);
  }
  const double* Frame(std::int64_t frame) const noexcept {
    return Samples() + 2 * (static_cast<std::int64_t>(leadIn) + frame);
  }
};
static_assert(sizeof(AudioBuffer) % alignof(double) == 0);

using AudioBufferPtr = RecordPtr<AudioBuffer>;

inline constexpr std::uint32_t kMinSampleRate = 8000;
inline constexpr unsigned kAudioFrameBytes = 16;
// Every byte of a new AudioBuffer, header and samples, starts as this value.
inline constexpr unsigned char kAudioBufferFill = 0xC0;

// Makes an AudioBuffer in `out` (nullptr on failure). Fails for a rate below 8000, zero frames,
// a block size that does not fit in 64 bits, or a refusal of the memory guard.
[[nodiscard]] Result NewAudioBuffer(AudioBufferPtr& out, std::uint32_t sampleRate,
                                    std::uint64_t frames, std::uint64_t leadIn) noexcept;

// As NewAudioBuffer, for a caller that writes every real frame itself: only the header and the
// lead-in frames are filled, so the real frames' memory is touched once, by the caller's writes.
// Once the caller has written them the buffer equals NewAudioBuffer's, byte for byte.
[[nodiscard]] Result NewAudioBufferToOverwrite(AudioBufferPtr& out, std::uint32_t sampleRate,
                                               std::uint64_t frames, std::uint64_t leadIn) noexcept;

// The answer NewAudioBuffer would give, with its failures noted as it notes them, without
// taking the block: for a stage that works in less memory than a record it was defined to make
// but keeps that record's claim on the system's memory. Any thread.
[[nodiscard]] Result AudioBufferAllowed(std::uint32_t sampleRate, std::uint64_t frames,
                                        std::uint64_t leadIn) noexcept;

// The block size of an AudioBuffer of `frames` with `leadIn` frames on each side: header +
// (frames + 2 × leadIn) × 16 bytes, or 0 when that does not fit in 64 bits.
[[nodiscard]] std::uint64_t AudioBufferBytes(std::uint64_t frames, std::uint64_t leadIn) noexcept;

// Takes over `block`, a GuardedAlloc block of at least header + (frames + 2 × leadIn) × 16 bytes,
// as an AudioBuffer: the header is written and the lead-ins filled as NewAudioBufferToOverwrite
// fills them; the bytes where the real frames lie are kept as they are. Cannot fail. Any thread.
[[nodiscard]] AudioBufferPtr AudioBufferInBlock(void* block, std::uint32_t sampleRate,
                                                std::uint64_t frames,
                                                std::uint64_t leadIn) noexcept;

}  // namespace lumaro::dsp
