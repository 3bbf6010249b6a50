#pragma once

#include <cstdint>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// How a DSD rate is reached from PCM: the PCM rate P the track is brought to first, and the
// 1-bit samples R each PCM frame becomes per channel (R / 8 bytes).
struct OneBitPlan {
  std::uint32_t dsdRate;
  std::uint32_t pcmRate;
  unsigned bitsPerFrame;
};

inline constexpr OneBitPlan kOneBitPlans[] = {
    {2822400, 352800, 8},
    {5644800, 352800, 16},
    {11289600, 705600, 16},
    {22579200, 1411200, 16},
};

// The plan of a DSD rate, or nullptr for a rate that is not one of the four.
const OneBitPlan* OneBitPlanFor(std::uint32_t dsdRate) noexcept;

// Replaces the AudioBuffer in the slot by a DsdBuffer at `dsdRate` with frames × R / 8 bytes
// per channel. The track is brought to the plan's PCM rate (Resample), limited to full scale
// (ClipGuard) and halved, so full scale is 50 % modulation. Each PCM frame is then cut into R
// sub-samples by cubic convolution between its neighbours and fed to an eighth-order noise
// shaping modulator per channel, state in f64. Each worker's modulators start from zero state
// at the first frame of its slice. Sub-sample j of a frame goes to bit j mod 8 of byte j / 8;
// with R = 16 a frame's bytes are left 0, right 0, left 1, right 1.
// Fails for a rate that is not a DSD rate, a source below 8000 Hz or without frames, any
// failure of the rate change, the clip guard or an allocation, a worker that cannot start or a
// stop request; the source is freed in every case and the slot is empty on failure.
// Playback thread.
[[nodiscard]] Result ToOneBit(BufferSlot& slot, std::uint32_t dsdRate,
                              const platform::StopWord& stop);

}  // namespace lumaro::dsp
