#pragma once

#include "app/play_request.h"
#include "app/status_line.h"
#include "platform/result.h"

namespace lumaro::engine {

// Runs step `step` of a playback with `request` (see engine_steps.h for who runs which step) and
// answers its result: 0, or the nonzero code of the failing step, whose text is then in the status
// line. Every resource a step acquires is released before it answers, in reverse order, on every
// path. A stop, a jump or an ended track is never reported as a failure. Playback thread only.
[[nodiscard]] Result StepMachine(app::PlayRequest& request, unsigned step);

// True while the request plays a gapless list (the track table exists from step 5 on).
inline bool PlaysGapless(const app::PlayRequest& request) { return request.TrackTable != nullptr; }

// Writes `text` into the main window's status line when the window exists.
inline void ShowStatus(const app::PlayRequest& request, std::u16string_view text) {
  app::ShowStatus(*request.App, text);
}

}  // namespace lumaro::engine
