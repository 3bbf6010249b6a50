#pragma once

#include "context/step_table.h"

namespace lumaro::app {

// The player's own components for every step the engine hands out: the play-list reader, the
// decoder chain, the preparation steps and both device families' tables.
const context::StepTable& PlayerSteps();

}  // namespace lumaro::app
