#pragma once

#include "context/app_context.h"
#include "platform/result.h"

namespace lumaro::app {

// Failure answer of the FM-music child while its libraries are not driven yet.
inline constexpr Result kFmChildUnavailable = FirstCode(FailureSite::kFmChild);

// The FM-music child procedure from its first step: reads its arguments from app.ArgVector and
// writes raw PCM to standard output. Until the child is built it ends at once with
// kFmChildUnavailable, which its parent reads as a failed decode.
[[nodiscard]] Result RunFmChild(context::AppContext& app);

}  // namespace lumaro::app
