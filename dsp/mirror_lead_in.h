#pragma once

#include "dsp/audio_buffer.h"

namespace lumaro::dsp {

// Fills both lead-ins of `buffer` by mirroring its real frames about their ends, both channels:
// frame −1 − m = frame m and frame N + m = frame N − 1 − m for m = 0 … lead-in − 1. A lead-in
// longer than the track keeps mirroring back and forth (the symmetric extension repeats with
// period 2N), so no lead-in frame is ever left unfilled. Needs frameCount > 0.
void MirrorLeadIn(AudioBuffer& buffer) noexcept;

// The real frame whose value MirrorLeadIn puts at frame `frame` of a track of `frames` frames
// (the frame itself inside the track). Needs frames > 0.
std::uint64_t MirroredFrame(std::int64_t frame, std::uint64_t frames) noexcept;

}  // namespace lumaro::dsp
