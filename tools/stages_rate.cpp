// The rate, 1-bit and device-byte stages as lumaro-stage runs them on a file.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "dsp/clip_guard.h"
#include "dsp/decimate.h"
#include "dsp/float_to_output.h"
#include "dsp/interpolate.h"
#include "dsp/pack_dop.h"
#include "dsp/resample.h"
#include "dsp/reverse_dsd_bits.h"
#include "dsp/swap_to_big_endian.h"
#include "dsp/to_one_bit.h"
#include "tools/stages.h"

namespace lumaro::tools {
namespace {

using Args = std::span<const std::string_view>;

// A stage argument: strict decimal. A value past 32 bits is handed on as the largest 32-bit
// value, which every stage's own range check refuses.
bool ParseWord(std::string_view text, std::uint32_t* value) {
  if (text.empty()) return false;
  std::uint64_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (end != text.data() + text.size()) return false;
  if (error == std::errc::result_out_of_range) {
    parsed = std::numeric_limits<std::uint64_t>::max();
  } else if (error != std::errc()) {
    return false;
  }
  *value = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(parsed, std::numeric_limits<std::uint32_t>::max()));
  return true;
}

StageStatus From(Result result) { return result == kOk ? StageStatus::kOk : StageStatus::kFailed; }

// The stages that take one number and hand it to `Run`.
template <Result (*Run)(dsp::BufferSlot&, std::uint32_t, const platform::StopWord&)>
StageStatus OneNumber(dsp::BufferSlot& slot, Args args, const platform::StopWord& stop) {
  std::uint32_t value = 0;
  if (args.size() != 1 || !ParseWord(args[0], &value)) return StageStatus::kBadArguments;
  return From(Run(slot, value, stop));
}

Result DecimateStage(dsp::BufferSlot& slot, std::uint32_t factor, const platform::StopWord& stop) {
  return dsp::Decimate(slot, factor, stop);
}

StageStatus ClipGuardStage(dsp::BufferSlot& slot, Args args, const platform::StopWord& stop) {
  if (!args.empty()) return StageStatus::kBadArguments;
  return From(dsp::ClipGuard(slot, stop));
}

// float-to-output's arguments: VALID CONTAINER [float].
bool ParseOutputFormat(Args args, dsp::OutputFormat* format) {
  if (args.size() < 2 || args.size() > 3 || !ParseWord(args[0], &format->validBits) ||
      !ParseWord(args[1], &format->containerBits)) {
    return false;
  }
  format->asFloat = args.size() == 3;
  return args.size() == 2 || args[2] == "float";
}

StageStatus FloatToOutputStage(dsp::BufferSlot& slot, Args args, const platform::StopWord& stop) {
  dsp::OutputFormat format;
  if (!ParseOutputFormat(args, &format)) return StageStatus::kBadArguments;
  return From(
      dsp::FloatToOutput(slot, format.validBits, format.containerBits, format.asFloat, stop));
}

StageStatus PackDopStage(dsp::BufferSlot& slot, Args args, const platform::StopWord& stop) {
  std::uint32_t container = 0;
  if (args.size() != 1 || !ParseWord(args[0], &container)) return StageStatus::kBadArguments;
  return From(dsp::PackDop(slot, container, stop));
}

// The in-place rewrites answer nothing; the tool fails when the slot holds the wrong record.
StageStatus SwapStage(dsp::BufferSlot& slot, Args args, const platform::StopWord&) {
  std::uint32_t valid = 0;
  if (args.size() != 1 || !ParseWord(args[0], &valid)) return StageStatus::kBadArguments;
  if (slot.Get<dsp::PcmBuffer>() == nullptr) return StageStatus::kFailed;
  dsp::SwapToBigEndian(slot, valid);
  return StageStatus::kOk;
}

StageStatus ReverseStage(dsp::BufferSlot& slot, Args args, const platform::StopWord&) {
  if (!args.empty()) return StageStatus::kBadArguments;
  if (slot.Get<dsp::DsdBuffer>() == nullptr) return StageStatus::kFailed;
  dsp::ReverseDsdBits(slot);
  return StageStatus::kOk;
}

constexpr StageSpec kRateStages[] = {
    {"clip-guard", "", ClipGuardStage},
    {"resample", "RATE", OneNumber<dsp::Resample>},
    {"interpolate", "RATE", OneNumber<dsp::Interpolate>},
    {"decimate", "F", OneNumber<DecimateStage>},
    {"to-one-bit", "DSDRATE", OneNumber<dsp::ToOneBit>},
    {"float-to-output", "VALID CONTAINER [float]", FloatToOutputStage},
    {"pack-dop", "CONTAINER", PackDopStage},
    {"swap-be", "VALID", SwapStage},
    {"reverse-dsd", "", ReverseStage},
};

}  // namespace

std::span<const StageSpec> RateStages() { return kRateStages; }

StageStatus ResampleToOutputStages(dsp::BufferSlot& slot, Args resampleArgs, Args outputArgs,
                                   const platform::StopWord& stop) {
  std::uint32_t rate = 0;
  dsp::OutputFormat format;
  if (resampleArgs.size() != 1 || !ParseWord(resampleArgs[0], &rate) ||
      !ParseOutputFormat(outputArgs, &format)) {
    return StageStatus::kBadArguments;
  }
  return From(dsp::ResampleToOutput(
      slot, rate, false, format, [] {}, stop));
}

}  // namespace lumaro::tools
