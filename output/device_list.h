#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "context/app_context.h"
#include "context/string_list.h"

// The endpoint half of the device and rate lists the configuration offers. Each list is built
// on a thread of its own (which sets up the component system for itself); the caller waits for
// it without a time limit. Any failure part-way answers nullptr.
namespace lumaro::output {

// Runs `build` on a thread of its own inside the component system and waits for it without a
// time limit; nullptr when no thread can be started. Both halves of the lists are built so.
std::unique_ptr<context::StringList> OnOwnThread(
    const context::AppContext& app,
    const std::function<std::unique_ptr<context::StringList>()>& build);

// The friendly names of the active render endpoints, in the system's order (no prefix).
std::unique_ptr<context::StringList> ListEndpoints(const context::AppContext& app);

// The resample choices of the endpoint named `name` (letter case ignored): "Share" and "Auto"
// just before the first supported rate, every rate of 32000 … 768000 Hz the endpoint takes in
// exclusive mode with one of the PCM candidates, then "D64", "D128", "D256" for each DoP rate it
// takes (24 valid bits in a 24-bit, or else a 32-bit container). An endpoint that cannot be
// activated writes "DEVICE ERROR: Activate failed" into the status line (when the main window
// exists) and gives nullptr.
std::unique_ptr<context::StringList> WasapiRates(const context::AppContext& app,
                                                 std::u16string_view name);

}  // namespace lumaro::output
