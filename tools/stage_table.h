#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/stages.h"

namespace lumaro::tools {

// Every group of stages lumaro-stage offers, in the order --help lists them.
std::span<const std::span<const StageSpec>> StageGroups();

// The stage of that name, or nullptr.
const StageSpec* FindStage(std::string_view name);

// One stage of a chain and the words after its name (each stage parses its own when it runs).
struct ChainStep {
  const StageSpec* stage;
  std::vector<std::string_view> args;
};

// lumaro-stage's command line: IN OUT [STAGE [ARGS...]] [--then STAGE [ARGS...]]...
// [--workers N].
struct StageLine {
  std::string_view in;
  std::string_view out;
  std::vector<ChainStep> chain;
  unsigned workers = 0;  // 0: the machine's count
};

// Parses the words after the program name into `line` (its views point into `words`): the
// stages by name, --workers within 1 to dsp::kMaxWorkers, and OUT refused when it is IN's file.
// Runs nothing. Failure answer: the usage problem, as lumaro-stage prints it after its name.
// Any thread.
std::optional<std::string> ParseStageLine(std::span<const std::string_view> words, StageLine* line);

}  // namespace lumaro::tools
