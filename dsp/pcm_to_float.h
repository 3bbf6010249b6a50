#pragma once

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// Replaces the PcmBuffer in the slot with an AudioBuffer of the same rate and frame count (lead-in
// 48, not filled). Integer samples of n bits become s / 2^(n-1) (8-bit samples are unsigned with
// 128 as zero); float samples are widened or copied without clipping, except that NaN and
// infinities become 0.0. A mono source goes to both channels. Layouts with no conversion (64-bit
// integer, float narrower than 32 bits) are refused. Stereo 64-bit float is converted where it
// lies; any other layout in its own block grown to the AudioBuffer's size where it can grow
// (GuardedGrow; in levels from the last frame back), else into a new block. The bytes
// are the same either way, and every worker takes part (in a grown block, a worker per
// kLevelFramesPerWorker frames of a level). The PcmBuffer is freed in every case; on
// failure (bad header, memory guard, a worker that cannot start, a stop request) the slot is left
// empty. Playback thread.
[[nodiscard]] Result PcmToFloat(BufferSlot& slot, const platform::StopWord& stop);

}  // namespace lumaro::dsp
