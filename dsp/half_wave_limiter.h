#pragma once

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// Removes overshoots above full scale without touching the rest of the waveform. Each channel
// of the AudioBuffer in the slot is cut into half-waves (a new one begins where a sample and the
// previous one have strictly opposite signs, so a zero joins its neighbours), and a half-wave
// whose largest |x| exceeds 1.0 is divided by it; the last half-wave counts too. In place, one
// pass on the calling thread; it runs to the end once started, so `stop` is not polled. Fails
// for a slot without an AudioBuffer or zero frames; the slot keeps its record either way.
// Playback thread.
[[nodiscard]] Result HalfWaveLimiter(BufferSlot& slot, const platform::StopWord& stop);

}  // namespace lumaro::dsp
