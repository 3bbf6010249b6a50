#pragma once

#include <cstdint>

#include "dsp/assist_limits.h"
#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// Brings the AudioBuffer in the slot to the target level (level / 1000 of full scale) with one
// gain for the whole track. The track's level is the mean per frame of both channels' integer
// terms, ARV: floor(|x| × 2^31), RMS: floor(x² × 2^31) then the square root, summed exactly in
// 128 bits so that it does not depend on how the frames were split over workers. A silent track
// is left unchanged. Fails for a slot without an AudioBuffer, zero frames, a level outside
// 1 … 800, a worker that cannot start or a stop request: then the buffer is freed and the slot
// left empty. Playback thread.
[[nodiscard]] Result LoudnessNormalize(BufferSlot& slot, std::uint32_t level,
                                       std::uint32_t loudnessType, const platform::StopWord& stop);

}  // namespace lumaro::dsp
