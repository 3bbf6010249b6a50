#pragma once

#include "dsp/buffer_slot.h"

namespace lumaro::dsp {

// Rewrites the real frames of the PcmBuffer in the slot, in place, for a big-endian driver:
// 16-bit containers swap their two bytes, 24-bit ones their first and third; a 32-bit container
// with 32 valid bits is reversed, and one holding a left-justified 24- or 16-bit value
// (0 b0 b1 b2, or 0 0 b0 b1) becomes that value sign-extended to 32 bits, most significant byte
// first (s b2 b1 b0, or s s b1 b0 with s = 0xFF for a negative value, else 0x00). Any other
// combination, or a slot without a PcmBuffer, is left unchanged. Playback thread.
void SwapToBigEndian(BufferSlot& slot, unsigned validBits) noexcept;

}  // namespace lumaro::dsp
