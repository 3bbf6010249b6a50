#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/shared_word.h"

// The stages lumaro-stage can run on a file, in groups that live beside the code they drive.
namespace lumaro::tools {

enum class StageStatus {
  kOk,
  kBadArguments,  // the words after the stage's name do not parse: a usage error (exit 2)
  kFailed,        // the stage refused or failed (exit 1)
};

// Parses the stage's arguments and runs it on the record in the slot (the stage's own checks
// decide what is in range: values that parse are handed to it unchanged).
using StageRun = StageStatus (*)(dsp::BufferSlot& slot, std::span<const std::string_view> args,
                                 const platform::StopWord& stop);

struct StageSpec {
  std::string_view name;       // as typed on the command line, e.g. "resample"
  std::string_view arguments;  // usage of its arguments, e.g. "RATE"
  StageRun run;
};

// `resample RATE` followed by `float-to-output VALID CONTAINER [float]` as one stage
// (dsp::ResampleToOutput without the clip guard): the same bytes, without the whole track at the
// new rate in 64-bit float. kBadArguments when either's arguments do not parse (the caller then
// runs the two one by one, for their own usage texts).
StageStatus ResampleToOutputStages(dsp::BufferSlot& slot,
                                   std::span<const std::string_view> resampleArgs,
                                   std::span<const std::string_view> outputArgs,
                                   const platform::StopWord& stop);

// Strict decimal: digits only, no sign, no spaces, fits in 64 bits.
bool ParseUnsigned(std::string_view text, std::uint64_t* value);

// The groups (each defined beside its stages' tool code).
std::span<const StageSpec> ConversionStages();  // pcm-to-float, dsd-to-float
std::span<const StageSpec> RateStages();        // clip-guard, resample, …, reverse-dsd
std::span<const StageSpec> AssistStages();      // compress, loudness, limiter, peak

}  // namespace lumaro::tools
