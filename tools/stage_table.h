#pragma once

#include <span>
#include <string_view>

#include "tools/stages.h"

namespace lumaro::tools {

// Every group of stages lumaro-stage offers, in the order --help lists them.
std::span<const std::span<const StageSpec>> StageGroups();

// The stage of that name, or nullptr.
const StageSpec* FindStage(std::string_view name);

}  // namespace lumaro::tools
