#include "decode/ffmpeg_reader.h"

namespace lumaro::decode {
namespace {
enum : Result { kErrNotBuilt = 0x4501 };
}

Result ReadWithFfmpeg(std::u16string_view, dsp::BufferSlot& slot, const platform::StopWord&) {
  slot.Clear();
  return kErrNotBuilt;
}

}  // namespace lumaro::decode
