#pragma once

#include "dsp/audio_buffer.h"

namespace lumaro::dsp {

// Fills both lead-ins of `buffer` by mirroring its real frames about their ends, both channels:
// frame −1 − m = frame m and frame N + m = frame N − 1 − m for m = 0 … lead-in − 1. A lead-in
// longer than the track keeps mirroring back and forth (the symmetric extension repeats with
// period 2N), so no lead-in frame is ever left unfilled. Needs frameCount > 0.
void MirrorLeadIn(AudioBuffer& buffer) noexcept;

}  // namespace lumaro::dsp
