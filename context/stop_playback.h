#pragma once

#include "context/app_context.h"

namespace lumaro::context {

// Asks the running playback to stop and returns once no playback holds the gate: while the gate
// is held, sets PlayCommand to 1 and waits at most 1 ms for the gate to be given back (a
// newer playback that took the gate in between is stopped too). Any thread.
void StopPlayback(AppContext& app);

// Runs StopPlayback on a thread of its own that nobody waits for. Failure answer: false.
[[nodiscard]] bool StartStopPlayback(AppContext& app);

}  // namespace lumaro::context
