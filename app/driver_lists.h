#pragma once

#include <memory>
#include <string_view>

#include "context/app_context.h"
#include "context/string_list.h"

// The driver half of the device and rate lists. Until the driver family is built the machine
// has no registered driver: both lists answer nullptr, which contributes no entries.
namespace lumaro::app {

// The descriptions of the registered drivers (no prefix); nullptr when there are none.
std::unique_ptr<context::StringList> ListAsioDrivers(const context::AppContext& app);

// The resample choices of the driver described as `name`; nullptr when it has none.
std::unique_ptr<context::StringList> AsioRates(const context::AppContext& app,
                                               std::u16string_view name);

}  // namespace lumaro::app
