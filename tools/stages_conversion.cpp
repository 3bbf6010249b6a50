// pcm-to-float and dsd-to-float: the conversions to the working format, as stages of the tool.
#include <array>

#include "dsp/dsd_to_float.h"
#include "dsp/pcm_to_float.h"
#include "tools/stages.h"

namespace lumaro::tools {
namespace {

// Runs `convert` when the slot holds a `Source` record; any other record stays untouched.
template <class Source, Result (*Convert)(dsp::BufferSlot&, const platform::StopWord&)>
StageStatus RunConversion(dsp::BufferSlot& slot, std::span<const std::string_view> args,
                          const platform::StopWord& stop) {
  if (!args.empty()) return StageStatus::kBadArguments;
  if (slot.Get<Source>() == nullptr) return StageStatus::kFailed;
  return Convert(slot, stop) == kOk ? StageStatus::kOk : StageStatus::kFailed;
}

constexpr std::array kConversionStages = {
    StageSpec{"pcm-to-float", "", RunConversion<dsp::PcmBuffer, dsp::PcmToFloat>},
    StageSpec{"dsd-to-float", "", RunConversion<dsp::DsdBuffer, dsp::DsdToFloat>},
};

}  // namespace

std::span<const StageSpec> ConversionStages() { return kConversionStages; }

}  // namespace lumaro::tools
