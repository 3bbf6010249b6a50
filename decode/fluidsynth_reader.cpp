#include "decode/fluidsynth_reader.h"

namespace lumaro::decode {
namespace {
enum : Result { kErrNotBuilt = 0x4511 };
}

Result ReadWithFluidsynth(std::u16string_view, std::u16string_view, std::u16string_view,
                          std::u16string_view, dsp::BufferSlot& slot, const platform::StopWord&) {
  slot.Clear();
  return kErrNotBuilt;
}

}  // namespace lumaro::decode
