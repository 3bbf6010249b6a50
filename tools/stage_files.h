#pragma once

#include <string>
#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

// Reading IN and writing OUT for lumaro-stage.
namespace lumaro::tools {

// Reads `path` with the built-in readers in the player's order (WAV, then DSF, then DSDIFF), then
// with the platform decoder: a WAV gives a PcmBuffer, DSF and DSDIFF a DsdBuffer, anything the
// platform decodes an AudioBuffer. Failure answer: nonzero, slot empty.
[[nodiscard]] Result ReadStageInput(std::u16string_view path, dsp::BufferSlot& slot,
                                    const platform::StopWord& stop);

// Writes the record in `slot` to `path` by its type: an AudioBuffer as the cache writer's 64-bit
// float WAV (Wave64 when too large for WAV), a DsdBuffer as the cache writer's DSDIFF, a PcmBuffer
// as a WAV of its own format (the extensible format when `validBits` is fewer than its integer
// container; 0: as many as the container). A path ending in ".raw" gets only the record's real
// data bytes as they are held in memory. Failure answer: nonzero, no partial file left.
[[nodiscard]] Result WriteStageOutput(std::u16string_view path, const dsp::BufferSlot& slot,
                                      const platform::StopWord& stop, unsigned validBits = 0);

// The kind of record in the slot, for messages ("AudioBuffer", "PcmBuffer", "DsdBuffer", "none").
std::string_view RecordName(const dsp::BufferSlot& slot);

}  // namespace lumaro::tools
