#pragma once

#include <cstdint>
#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Plays an FM-music file through the WinFMP or PMDWin library inside a child copy of the player
// and collects its output as a PcmBuffer (integer, 2 channels, 16 bits, 44,100 Hz). `pps` and
// `ssgRhy` switch the PPS and SSG+RHY options (0 and 0 for WinFMP files). Answers 0 with the
// buffer in `slot`; nonzero otherwise with `slot` empty. The child's output is judged
// only by what arrives: any whole frames succeed, none fail. The process's current directory
// becomes the program's. Playback thread.
[[nodiscard]] Result ReadFmMusic(std::u16string_view path, dsp::BufferSlot& slot,
                                 const platform::StopWord& stop, std::uint32_t pps,
                                 std::uint32_t ssgRhy);

}  // namespace lumaro::decode
