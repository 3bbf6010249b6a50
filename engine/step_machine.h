#pragma once

#include "context/play_request.h"
#include "context/status_line.h"
#include "context/step_table.h"
#include "platform/result.h"

namespace lumaro::engine {

// Runs step `step` of a playback with `request` (see context/step_table.h for who runs which step)
// and answers its result: 0, or the nonzero code of the failing step, whose text is then in the
// status line. Every resource a step acquires is released before it answers, in reverse order, on
// every path. A stop, a jump or an ended track is never reported as a failure. Playback thread
// only.
[[nodiscard]] Result StepMachine(context::PlayRequest& request, unsigned step);
[[nodiscard]] inline Result StepMachine(context::PlayRequest& request, context::Step step) {
  return StepMachine(request, context::Number(step));
}

// The step table of the request's device family.
const context::FamilySteps& FamilyStepsOf(const context::PlayRequest& request);

// True while the request plays a gapless list (the track table exists from step 5 on).
inline bool PlaysGapless(const context::PlayRequest& request) {
  return request.TrackTable != nullptr;
}

// Writes `text` into the main window's status line when the window exists.
inline void ShowStatus(const context::PlayRequest& request, std::u16string_view text) {
  context::ShowStatus(*request.App, text);
}

}  // namespace lumaro::engine
