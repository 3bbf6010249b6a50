#pragma once

#include "dsp/buffer_slot.h"

namespace lumaro::dsp {

// Reverses the bit order of every real byte of the DsdBuffer in the slot, in place (the lead-in
// is not touched), for drivers that take the earliest 1-bit sample in bit 7. A slot without a
// DsdBuffer is left unchanged. Needs no memory and cannot fail. Playback thread.
void ReverseDsdBits(BufferSlot& slot) noexcept;

}  // namespace lumaro::dsp
