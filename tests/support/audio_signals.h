#pragma once

#include <cmath>
#include <cstdint>
#include <functional>

#include "dsp/buffer_slot.h"

namespace lumaro::testing {

// A slot holding an AudioBuffer of `frames` frames at `rate` with the given lead-in, real frame
// n holding {left(n), right(n)}; the lead-in is left as NewAudioBuffer made it.
inline dsp::BufferSlot AudioSlot(std::uint32_t rate, std::uint64_t frames,
                                 const std::function<double(std::uint64_t)>& left,
                                 const std::function<double(std::uint64_t)>& right,
                                 std::uint64_t leadIn = 48) {
  dsp::AudioBufferPtr buffer;
  dsp::BufferSlot slot;
  if (dsp::NewAudioBuffer(buffer, rate, frames, leadIn) != kOk) return slot;
  for (std::uint64_t n = 0; n < frames; ++n) {
    double* frame = buffer->Frame(static_cast<std::int64_t>(n));
    frame[0] = left(n);
    frame[1] = right(n);
  }
  slot.Put(std::move(buffer));
  return slot;
}

// The same function in both channels.
inline dsp::BufferSlot AudioSlot(std::uint32_t rate, std::uint64_t frames,
                                 const std::function<double(std::uint64_t)>& both,
                                 std::uint64_t leadIn = 48) {
  return AudioSlot(rate, frames, both, both, leadIn);
}

// amplitude · sin(2π · frequency · n / rate + phase).
inline std::function<double(std::uint64_t)> Sine(double frequency, std::uint32_t rate,
                                                 double amplitude, double phase = 0.0) {
  return [=](std::uint64_t n) {
    return amplitude * std::sin(2.0 * M_PI * frequency * static_cast<double>(n) / rate + phase);
  };
}

}  // namespace lumaro::testing
