#include "decode/fm_music_reader.h"

namespace lumaro::decode {
namespace {
enum : Result { kErrNotBuilt = 0x4601 };
}

Result ReadFmMusic(std::u16string_view, dsp::BufferSlot& slot, const platform::StopWord&,
                   std::uint32_t, std::uint32_t) {
  slot.Clear();
  return kErrNotBuilt;
}

}  // namespace lumaro::decode
