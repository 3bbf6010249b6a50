#pragma once

#include <string>
#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Renders a MIDI file with the outside Fluidsynth program and up to three sound fonts (names
// relative to the player's directory; an empty name is no font) into an AudioBuffer. Answers 0
// with the buffer in `slot`; nonzero otherwise with `slot` empty. Not built yet: answers as when
// the program is absent (nonzero). Playback thread.
[[nodiscard]] Result ReadWithFluidsynth(std::u16string_view path, std::u16string_view soundFont1,
                                        std::u16string_view soundFont2,
                                        std::u16string_view soundFont3, dsp::BufferSlot& slot,
                                        const platform::StopWord& stop);

}  // namespace lumaro::decode
