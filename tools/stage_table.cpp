#include "tools/stage_table.h"

#include <vector>

namespace lumaro::tools {

std::span<const std::span<const StageSpec>> StageGroups() {
  static const std::vector<std::span<const StageSpec>> groups = {
      ConversionStages(),
      RateStages(),
      AssistStages(),
  };
  return groups;
}

const StageSpec* FindStage(std::string_view name) {
  for (const std::span<const StageSpec> group : StageGroups()) {
    for (const StageSpec& stage : group) {
      if (stage.name == name) return &stage;
    }
  }
  return nullptr;
}

}  // namespace lumaro::tools
