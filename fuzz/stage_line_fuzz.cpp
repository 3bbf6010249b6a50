// lumaro-stage's command line on arbitrary words (the input split at NUL bytes): ParseStageLine,
// then each stage of the chain given its words on an empty slot, as the tool would run it with
// no record read (and the resample + float-to-output pair as the tool joins them). The stages
// parse their words and must refuse the missing record without running.
#include <string_view>

#include "dsp/worker_count.h"
#include "fuzz/fuzz_support.h"
#include "tools/stage_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumaro;
  const std::vector<std::string> args = fuzz::SplitAtNul(data, size);
  const std::vector<std::string_view> words(args.begin(), args.end());
  tools::StageLine line;
  if (const std::optional<std::string> problem = tools::ParseStageLine(words, &line)) {
    if (problem->empty()) fuzz::Fail("an empty usage problem");
    return 0;
  }
  if (line.workers > dsp::kMaxWorkers) fuzz::Fail("worker count out of range");
  const platform::StopWord stop;
  for (std::size_t i = 0; i < line.chain.size(); ++i) {
    const tools::ChainStep& step = line.chain[i];
    if (step.stage == nullptr) fuzz::Fail("a chain step without a stage");
    dsp::BufferSlot slot;
    if (step.stage->run(slot, step.args, stop) == tools::StageStatus::kOk) {
      fuzz::Fail("a stage ran on an empty slot");
    }
    if (!slot.Empty()) fuzz::Fail("a stage left a record in an empty slot");
    if (i + 1 < line.chain.size() && step.stage->name == "resample" &&
        tools::ResampleToOutputStages(slot, step.args, line.chain[i + 1].args, stop) ==
            tools::StageStatus::kOk) {
      fuzz::Fail("resample + float-to-output ran on an empty slot");
    }
  }
  return 0;
}
