#pragma once

#include <cstdint>

#include "context/play_request.h"
#include "platform/result.h"

namespace lumaro::decode {

// The decode step of a playback: turns the track at request.TrackPath into an AudioBuffer or a
// DsdBuffer in request.Buffer and sets the source description (IsDsd, DecodedKind, DecodedBits,
// DecodedRate). The path is checked first; then the FM-music rules (WinFMP, PMDWin), the MIDI rule
// (Fluidsynth), the built-in WAV, DSF and DSDIFF readers (every file, whatever its extension),
// FFmpeg and the platform decoder are tried in that order, each reader starting with an empty
// slot; a PcmBuffer is converted to float at once. Each attempt's progress text and every failure
// text goes to the main window's status line while the window exists. Failure answer: nonzero with
// the slot empty and the text in the status line, or without a text when PlayCommand asked for a
// stop. Playback thread.
[[nodiscard]] Result DecodeTrack(context::PlayRequest& request);

}  // namespace lumaro::decode
