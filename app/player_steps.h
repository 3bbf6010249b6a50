#pragma once

#include "engine/engine_steps.h"

namespace lumaro::app {

// The player's own components for every step the engine hands out. A component that is not
// built yet answers as if it were absent from the machine: the play list cannot be read, no
// reader decodes the file ("ERROR: read failed"), the endpoint enumerator cannot be created, no
// driver is registered.
const engine::EngineSteps& PlayerSteps();

}  // namespace lumaro::app
