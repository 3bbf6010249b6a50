#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// The renderer's arguments for three sound fonts (full paths, slot 1 first), named in their slots
// by `names`: the fixed words, then the fonts from slot 3 down to slot 1, each font once (a slot
// naming, in any letter case, the same font as a lower slot is left out, so slot 1's font always
// comes last), then the MIDI file.
std::vector<std::u16string> FluidsynthArguments(const std::array<std::u16string, 3>& fonts,
                                                const std::array<std::u16string_view, 3>& names,
                                                std::u16string_view midi);

// The length the command line is judged by: every font path and separator counted, also those
// of fonts left out.
std::uint64_t FluidsynthCommandLineLength(const std::array<std::u16string, 3>& fonts,
                                          std::u16string_view midi);

// Renders a MIDI file with the outside Fluidsynth program and up to three sound fonts (names
// relative to the player's directory; an empty name is no font) into an AudioBuffer. Answers 0
// with the buffer in `slot`; nonzero otherwise with `slot` empty. The process's current directory
// becomes the program's. Playback thread.
[[nodiscard]] Result ReadWithFluidsynth(std::u16string_view path, std::u16string_view soundFont1,
                                        std::u16string_view soundFont2,
                                        std::u16string_view soundFont3, dsp::BufferSlot& slot,
                                        const platform::StopWord& stop);

}  // namespace lumaro::decode
