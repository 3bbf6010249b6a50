#pragma once

#include <functional>
#include <string_view>

#include "context/play_request.h"
#include "context/step_table.h"
#include "platform/result.h"

// The driver family's steps of a playback: the drivers' key, the driver found by its
// description, the driver object, its format and buffers (14–17), and its start, lead-in and
// feeding (28–30). Each writes its status and error texts, runs the next step through the step
// machine and releases what it acquired. Playback thread.
namespace lumaro::output {

// Answers 0 when the driver described as `name` is created and initialised in time by another
// instance (the engine's own instance is initialised only then).
using DriverProbe = std::function<Result(const context::AppContext& app, std::u16string_view name)>;

// The driver family's table: its steps 14–17, 22 and 28–30 (step 22, the output data, is the
// engine's preparation).
context::FamilySteps DriverFamilySteps(DriverProbe probe);

}  // namespace lumaro::output
