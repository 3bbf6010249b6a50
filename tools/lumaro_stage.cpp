// lumaro-stage: reads IN with the built-in readers (or the platform decoder), runs a chain of
// stages on the record and writes the result to OUT by its type. Times go to stderr, one line per
// phase.
//
//   lumaro-stage IN OUT [STAGE [ARGS...]] [--then STAGE [ARGS...]]... [--workers N]
//
// Exit status: 0 done, 1 the reader, a stage or the writer failed, 2 usage error.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/pack_dop.h"
#include "dsp/worker_count.h"
#include "platform/os.h"
#include "platform/text.h"
#include "tools/stage_files.h"
#include "tools/stage_table.h"

namespace {

using namespace lumaro;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

platform::StopWord stopRequest;

void OnInterrupt(int) { stopRequest.Store(1); }

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: lumaro-stage IN OUT [STAGE [ARGS...]] [--then STAGE [ARGS...]]... "
               "[--workers N]\n"
               "  IN   a WAV (gives a PcmBuffer), DSF or DSDIFF file (gives a DsdBuffer), or\n"
               "       any file the platform decoder reads (gives an AudioBuffer)\n"
               "  OUT  written by record type: AudioBuffer as 64-bit float WAV (Wave64 when too\n"
               "       large), DsdBuffer as DSDIFF, PcmBuffer as WAV of its own format; a name\n"
               "       ending in .raw gets the record's data bytes only\n"
               "  --workers N  worker threads per stage (1 to 63; default: processors - 1)\n"
               "stages:\n");
  for (const auto group : tools::StageGroups()) {
    for (const tools::StageSpec& stage : group) {
      std::fprintf(to, "  %.*s %.*s\n", static_cast<int>(stage.name.size()), stage.name.data(),
                   static_cast<int>(stage.arguments.size()), stage.arguments.data());
    }
  }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The valid bits of the samples after `stage`: those `float-to-output` was given, 24 for DoP
// frames, unchanged by the in-place rewrites, otherwise the container's own (0).
unsigned ValidBitsAfter(const tools::StageSpec& stage, std::span<const std::string_view> args,
                        unsigned before) {
  if (stage.name == "float-to-output" && !args.empty()) {
    std::uint64_t valid = 0;
    return tools::ParseUnsigned(args[0], &valid) && valid <= 32 ? static_cast<unsigned>(valid) : 0;
  }
  if (stage.name == "pack-dop") return dsp::kDopValidBits;
  if (stage.name == "swap-be" || stage.name == "reverse-dsd") return before;
  return 0;
}

int Run(const tools::StageLine& options) {
  if (options.workers != 0) dsp::SetWorkerCountOverride(options.workers);
  dsp::BufferSlot slot;

  auto start = std::chrono::steady_clock::now();
  if (tools::ReadStageInput(platform::Utf8ToUtf16(options.in), slot, stopRequest) != kOk) {
    std::fprintf(stderr,
                 "lumaro-stage: read failed: %.*s is no WAV, DSF or DSDIFF file the "
                 "built-in readers take\n",
                 static_cast<int>(options.in.size()), options.in.data());
    return kExitFailed;
  }
  const std::string_view readKind = tools::RecordName(slot);
  std::fprintf(stderr, "read %.*s: %.3f s\n", static_cast<int>(readKind.size()), readKind.data(),
               SecondsSince(start));

  unsigned validBits = 0;  // of device bytes made by the chain (0: the container's width)
  for (std::size_t i = 0; i < options.chain.size(); ++i) {
    const tools::ChainStep& step = options.chain[i];
    start = std::chrono::steady_clock::now();
    // A resample straight followed by float-to-output runs as one stage: the same bytes, without
    // the whole track at the new rate in 64-bit float.
    if (const tools::ChainStep* next =
            i + 1 < options.chain.size() ? &options.chain[i + 1] : nullptr;
        next != nullptr && step.stage->name == "resample" &&
        next->stage->name == "float-to-output") {
      const tools::StageStatus status =
          tools::ResampleToOutputStages(slot, step.args, next->args, stopRequest);
      if (status == tools::StageStatus::kOk) {
        validBits = ValidBitsAfter(*next->stage, next->args, validBits);
        std::fprintf(stderr, "resample + float-to-output: %.3f s\n", SecondsSince(start));
        ++i;
        continue;
      }
      if (status == tools::StageStatus::kFailed) {
        std::fprintf(
            stderr, "lumaro-stage: stage resample + float-to-output failed (record: %.*s)\n",
            static_cast<int>(tools::RecordName(slot).size()), tools::RecordName(slot).data());
        return kExitFailed;
      }
    }
    const tools::StageStatus status = step.stage->run(slot, step.args, stopRequest);
    const std::string_view name = step.stage->name;
    validBits = ValidBitsAfter(*step.stage, step.args, validBits);
    if (status == tools::StageStatus::kBadArguments) {
      std::fprintf(stderr, "lumaro-stage: usage: %.*s %.*s\n", static_cast<int>(name.size()),
                   name.data(), static_cast<int>(step.stage->arguments.size()),
                   step.stage->arguments.data());
      return kExitUsage;
    }
    if (status != tools::StageStatus::kOk) {
      std::fprintf(stderr, "lumaro-stage: stage %.*s failed (record: %.*s)\n",
                   static_cast<int>(name.size()), name.data(),
                   static_cast<int>(tools::RecordName(slot).size()),
                   tools::RecordName(slot).data());
      return kExitFailed;
    }
    std::fprintf(stderr, "%.*s: %.3f s\n", static_cast<int>(name.size()), name.data(),
                 SecondsSince(start));
  }

  start = std::chrono::steady_clock::now();
  if (tools::WriteStageOutput(platform::Utf8ToUtf16(options.out), slot, stopRequest, validBits) !=
      kOk) {
    std::fprintf(stderr, "lumaro-stage: write failed: %.*s\n", static_cast<int>(options.out.size()),
                 options.out.data());
    return kExitFailed;
  }
  std::fprintf(stderr, "write: %.3f s\n", SecondsSince(start));
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> words(argv + 1, argv + argc);
  for (const std::string_view word : words) {
    if (word == "--help" || word == "-h") {
      PrintUsage(stdout);
      return kExitOk;
    }
  }
  tools::StageLine options;
  if (const std::optional<std::string> problem = tools::ParseStageLine(words, &options)) {
    std::fprintf(stderr, "lumaro-stage: %s\n", problem->c_str());
    PrintUsage(stderr);
    return kExitUsage;
  }
  std::signal(SIGINT, OnInterrupt);
  return Run(options);
}
