#pragma once

#include "context/play_request.h"
#include "platform/result.h"

namespace lumaro::engine {

// Joins the decoded tracks of the track table, in order, into one record in the Buffer slot and
// sets each entry's StartSeconds: AudioBuffers into one AudioBuffer (lead-in 48) at the first
// track's rate, DsdBuffers into one DsdBuffer (lead-in 128). Each track's record is freed once it
// is copied. Failure answer: nonzero with "ERROR: out of memory" in the status line, the Buffer
// slot empty, records not yet joined left in the table. Playback thread.
[[nodiscard]] Result JoinTracks(context::PlayRequest& request);

}  // namespace lumaro::engine
