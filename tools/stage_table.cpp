#include "tools/stage_table.h"

#include "dsp/worker_count.h"
#include "platform/os.h"
#include "platform/text.h"

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

std::optional<std::string> ParseStageLine(std::span<const std::string_view> words,
                                          StageLine* line) {
  std::vector<std::string_view> positional;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string_view word = words[i];
    if (word == "--workers") {
      std::uint64_t n = 0;
      if (i + 1 >= words.size() || !ParseUnsigned(words[i + 1], &n) || n < 1 ||
          n > dsp::kMaxWorkers) {
        return "--workers needs a number from 1 to " + std::to_string(dsp::kMaxWorkers);
      }
      line->workers = static_cast<unsigned>(n);
      ++i;
    } else if (word == "--then") {
      if (positional.size() <= 2 || positional.back() == "--then") {
        return "--then needs a stage before it";
      }
      if (i + 1 >= words.size()) return "--then needs a stage after it";
      positional.push_back(word);
    } else {
      positional.push_back(word);
    }
  }
  if (positional.size() < 2) return "IN and OUT are needed";
  line->in = positional[0];
  line->out = positional[1];
  if (platform::SameFile(platform::Utf8ToUtf16(line->in), platform::Utf8ToUtf16(line->out))) {
    return "OUT is the input file; writing it would destroy IN";
  }
  bool expectStage = true;
  for (std::size_t i = 2; i < positional.size(); ++i) {
    const std::string_view word = positional[i];
    if (word == "--then") {
      expectStage = true;
      continue;
    }
    if (!expectStage) {
      line->chain.back().args.push_back(word);
      continue;
    }
    const StageSpec* stage = FindStage(word);
    if (stage == nullptr) return "unknown stage '" + std::string(word) + "'";
    line->chain.push_back(ChainStep{stage, {}});
    expectStage = false;
  }
  return std::nullopt;
}

}  // namespace lumaro::tools
