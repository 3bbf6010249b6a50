#pragma once

#include <memory>
#include <string_view>

#include "context/app_context.h"
#include "context/string_list.h"
#include "platform/result.h"

// The driver half of the device and rate lists, and the probe that tells whether a driver
// answers at all. The lists are built on a thread of their own and waited for without a time
// limit; a driver is tried only after the probe has seen it answer. Without a driver registry
// in the services the lists are nullptr (no entries) and every probe fails.
namespace lumaro::app {

// The descriptions of the registered drivers that pass the driver test and take both the PCM
// and the 1-bit format (no prefix), in the registry's order. An empty list when the drivers' key
// is missing; nullptr when the list cannot be made.
std::unique_ptr<context::StringList> ListAsioDrivers(const context::AppContext& app);

// The resample choices of the driver described exactly as `name`: "Auto" just before the first
// rate of 32000 … 768000 Hz the driver takes in PCM format, then "D64" … "D512" for each bit
// rate it takes in 1-bit format. nullptr when the driver is not found or fails the driver test.
std::unique_ptr<context::StringList> AsioRates(const context::AppContext& app,
                                               std::u16string_view name);

// 0 when the driver described exactly as `name` is created and initialised by a thread of its
// own within the services' probe wait (one second); nonzero otherwise. The thread frees what it
// used; a thread stuck in the driver is left behind, and a failed one sleeps before it ends.
[[nodiscard]] Result AsioProbe(const context::AppContext& app, std::u16string_view name);

}  // namespace lumaro::app
