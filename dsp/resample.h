#pragma once

#include <cstdint>
#include <functional>

#include "dsp/buffer_slot.h"
#include "dsp/float_to_output.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

inline constexpr std::uint32_t kMaxResampleRate = 1411200;

// One step of a rate change: decimate by `value` (2, 4 or 8), or interpolate to `value` Hz.
struct RateStep {
  enum class Kind { kNone, kDecimate, kInterpolate } kind = Kind::kNone;
  std::uint32_t value = 0;

  friend bool operator==(const RateStep&, const RateStep&) = default;
};

// The next step from `rate` towards `target`: none when they are equal; interpolation straight
// to the target when it is higher; otherwise decimation by 8, 4 or 2 when the rate is divisible
// by it and at least that many times the target, else interpolation to the target doubled until
// it is at least the rate. Pure.
RateStep NextRateStep(std::uint32_t rate, std::uint32_t target) noexcept;

// Brings the AudioBuffer in the slot to `target` Hz by the steps of NextRateStep. Equal rates
// leave it untouched. Fails for a rate below 8000, a target outside 8000 … 1,411,200, no frames,
// or the first failing step; the slot is empty after any failure. Playback thread.
[[nodiscard]] Result Resample(BufferSlot& slot, std::uint32_t target,
                              const platform::StopWord& stop);

// Resample to `target`, then ClipGuard (when `clipGuard`), then FloatToOutput with `format`, in
// one stage giving the same output record byte for byte: the last rate step (an interpolation a
// second at a time, a decimation 65536 frames at a time) writes into a small buffer per worker
// and from there straight into the output record, so the track at the target rate in 64-bit
// float never exists whole (BlocksToOutput tells how; a peak beyond full scale makes the last
// step twice). The earlier rate steps run as Resample runs them; with equal rates the clip guard
// and the conversion run as themselves. `beforeConversion` is called once, when the conversion's
// own gain is known. Fails where one of the three stages would, and for output widths
// FloatToOutput refuses; the slot is empty after a failure. Playback thread.
[[nodiscard]] Result ResampleToOutput(BufferSlot& slot, std::uint32_t target, bool clipGuard,
                                      const OutputFormat& format,
                                      const std::function<void()>& beforeConversion,
                                      const platform::StopWord& stop);

}  // namespace lumaro::dsp
