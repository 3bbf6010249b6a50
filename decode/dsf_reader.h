#pragma once

#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Reads a DSF file whole into a DsdBuffer: a strict 92-byte header (version 1, uncompressed,
// 1–6 channels, bits per sample 1 or 8, block size 4096, "data" right after "fmt "), then the
// per-channel 4096-byte blocks, de-interleaved into byte pairs with the earliest sample in bit 0.
// Mono files give identical left and right bytes; channels beyond the second are skipped.
// Answers 0 with the buffer in `slot`; on any failure (header, a rate other than the four DSD
// rates, short data, memory guard, a stop) nonzero, silently, with `slot` empty and nothing left
// allocated. The file is held open exclusively during the call. Playback thread.
[[nodiscard]] Result ReadDsf(std::u16string_view path, dsp::BufferSlot& slot,
                             const platform::StopWord& stop);

}  // namespace lumaro::decode
