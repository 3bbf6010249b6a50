#pragma once

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// Scales the AudioBuffer in the slot, in place, so that no real sample exceeds 1.0 in magnitude:
// when the largest |sample| (the peak) is above 1.0 every real sample is multiplied by 1 / peak;
// otherwise the buffer is left untouched. Fails for an empty slot, a record other than an
// AudioBuffer, zero frames, a worker that cannot start, or a stop request; the buffer stays in
// the slot in every case. Playback thread.
[[nodiscard]] Result ClipGuard(BufferSlot& slot, const platform::StopWord& stop);

// The largest |sample| among the real frames [first, first + count) of `buffer`, polling `stop`
// every kStopPollFrames frames (a partial answer when it is set).
double PeakOfFrames(const AudioBuffer& buffer, std::uint64_t first, std::uint64_t count,
                    const platform::StopWord& stop);

// Multiplies the real frames [first, first + count) by `gain`, polling `stop` likewise.
void ScaleFrames(AudioBuffer& buffer, std::uint64_t first, std::uint64_t count, double gain,
                 const platform::StopWord& stop);

}  // namespace lumaro::dsp
