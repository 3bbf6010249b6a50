#pragma once

#include "engine/engine_steps.h"

namespace lumaro::app {

// The player's own components for every step the engine hands out: the play-list reader, the
// decoder chain, and the endpoint family from its enumerator to the feeding. The driver family is
// not built yet and answers as a machine without registered drivers does (step 14 fails without
// a text).
const engine::EngineSteps& PlayerSteps();

}  // namespace lumaro::app
