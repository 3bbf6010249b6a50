#include "decode/fluidsynth_reader.h"

#include "platform/failure.h"

namespace lumaro::decode {
namespace {
enum : Result { kErrNotBuilt = FirstCode(FailureSite::kFluidsynthReader) };
constexpr platform::FailureNames kFailures{
    FailureSite::kFluidsynthReader, kErrNotBuilt, {"Fluidsynth reader not built"}};
}  // namespace

Result ReadWithFluidsynth(std::u16string_view path, std::u16string_view, std::u16string_view,
                          std::u16string_view, dsp::BufferSlot& slot, const platform::StopWord&) {
  slot.Clear();
  return kFailures.Note(kErrNotBuilt, path);
}

}  // namespace lumaro::decode
