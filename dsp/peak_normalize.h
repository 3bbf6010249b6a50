#pragma once

#include <cstdint>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// Scales the AudioBuffer in the slot so that its largest |sample| becomes target / 100 of full
// scale (target 0 gives silence; the value is not range-checked). A silent track is left
// unchanged. Fails for a slot without an AudioBuffer, zero frames, a worker that cannot start or
// a stop request: then the buffer is freed and the slot left empty. Playback thread.
[[nodiscard]] Result PeakNormalize(BufferSlot& slot, std::uint32_t target,
                                   const platform::StopWord& stop);

}  // namespace lumaro::dsp
