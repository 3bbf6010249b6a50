#pragma once

#include <cstdint>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// Replaces the AudioBuffer in the slot by the bytes a device takes: a PcmBuffer of two channels
// of `containerBits` at the same rate and frame count (lead-in 48 zero frames). Two passes: the
// peak of the real frames is measured and, above 1.0, every sample is scaled by 1 / peak. Each
// sample x then becomes round(x × (gain × (2^(valid − 1) − 1))), nearest with ties to even, so
// full scale is ±32767, ±8388607 or ±2147483647; a value narrower than its container sits in
// the high bytes, the low ones zero. With valid = container = 32 and `asFloat` the sample is
// x × gain as a 32-bit float and the record's sample format says float. No dither. A sample
// that is not a number becomes 0.
// Fails unless valid and container bits are 16, 24 or 32 with valid ≤ container; also for no
// frames, a refused allocation, a worker that cannot start or a stop request. The source is
// freed in every case; on failure the slot is empty. Playback thread.
[[nodiscard]] Result FloatToOutput(BufferSlot& slot, unsigned validBits, unsigned containerBits,
                                   bool asFloat, const platform::StopWord& stop);

}  // namespace lumaro::dsp
