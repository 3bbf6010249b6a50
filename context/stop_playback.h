#pragma once

#include "context/app_context.h"

namespace lumaro::context {

// Asks the running playback to stop and returns once no playback holds the gate: while the gate
// is held, sets PlayCommand to 1 and sleeps 1 ms. Any thread.
void StopPlayback(AppContext& app);

// Runs StopPlayback on a thread of its own that nobody waits for. Failure answer: false.
[[nodiscard]] bool StartStopPlayback(AppContext& app);

}  // namespace lumaro::context
