#include "decode/platform_decoder_reader.h"

namespace lumaro::decode {
namespace {
enum : Result { kErrNotBuilt = 0x4701 };
}

Result ReadWithPlatformDecoder(std::u16string_view, dsp::BufferSlot& slot, std::uint32_t*,
                               const platform::StopWord&) {
  slot.Clear();
  return kErrNotBuilt;
}

}  // namespace lumaro::decode
