#pragma once

#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Reads a RIFF/WAVE file whole into a PcmBuffer in the file's own format: PCM of 8/16/24/32
// bits, IEEE float of 32/64 bits, or the extensible form of either (narrower valid bits are
// repacked from the high-order bytes of each container), 1 or 2 channels, at least 8000 Hz. The
// "fmt " and "data" chunks may come in either order; other chunks (and the pad byte after an odd
// body) are skipped. Answers 0 with the buffer in `slot`; on any failure (other format, short
// file, memory guard, a stop in `stop`) nonzero, silently, with `slot` empty and nothing left
// allocated. The file is held open exclusively during the call. Playback thread.
[[nodiscard]] Result ReadWav(std::u16string_view path, dsp::BufferSlot& slot,
                             const platform::StopWord& stop);

}  // namespace lumaro::decode
