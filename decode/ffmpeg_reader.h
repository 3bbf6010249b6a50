#pragma once

#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Decodes any format the outside FFmpeg program (beside the player) knows into an AudioBuffer,
// reading the 64-bit float stereo WAV stream it writes to a pipe; the rate is the stream's.
// Answers 0 with the buffer in `slot`; nonzero otherwise with `slot` empty (at once when the
// program is absent). A stop request ends the run within about 100 ms. Playback thread.
[[nodiscard]] Result ReadWithFfmpeg(std::u16string_view path, dsp::BufferSlot& slot,
                                    const platform::StopWord& stop);

}  // namespace lumaro::decode
