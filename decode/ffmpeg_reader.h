#pragma once

#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Decodes any format the outside FFmpeg program knows into an AudioBuffer, reading its output
// through a pipe. Answers 0 with the buffer in `slot`; nonzero otherwise with `slot` empty.
// Not built yet: answers as when the program is absent (nonzero). Playback thread.
[[nodiscard]] Result ReadWithFfmpeg(std::u16string_view path, dsp::BufferSlot& slot,
                                    const platform::StopWord& stop);

}  // namespace lumaro::decode
