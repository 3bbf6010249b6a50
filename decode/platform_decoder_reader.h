#pragma once

#include <cstdint>
#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// The last resort: the platform's own decoder turns the file into an AudioBuffer and reports the
// float width it delivered (32 or 64) in `bits`. Answers 0 with the buffer in `slot`; nonzero
// otherwise with `slot` empty. Not built yet: answers as when the platform decodes nothing
// (nonzero). Playback thread.
[[nodiscard]] Result ReadWithPlatformDecoder(std::u16string_view path, dsp::BufferSlot& slot,
                                             std::uint32_t* bits, const platform::StopWord& stop);

}  // namespace lumaro::decode
