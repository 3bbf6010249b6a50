#pragma once

#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Reads a DSDIFF file ("FRM8" form of type "DSD ") whole into a DsdBuffer: "FVER" (version 1.x)
// first, "PROP"/"SND " second with its "FS  ", "CHNL" and "CMPR" sub-chunks (only uncompressed
// "DSD " data is taken; DST is refused), other chunks skipped up to the sound data chunk, whose
// interleaved bytes (earliest sample in bit 7) become byte pairs with the earliest sample in
// bit 0. Mono files give identical left and right bytes; channels beyond the second are skipped;
// a trailing partial frame is ignored. Reads forward only and honours the pad byte after an
// odd-sized chunk. Answers 0 with the buffer in `slot`; on any failure nonzero, silently, with
// `slot` empty and nothing left allocated. The file is held open exclusively during the call.
// Playback thread.
[[nodiscard]] Result ReadDsdiff(std::u16string_view path, dsp::BufferSlot& slot,
                                const platform::StopWord& stop);

}  // namespace lumaro::decode
