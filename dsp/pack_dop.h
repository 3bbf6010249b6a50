#pragma once

#include <cstdint>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// DoP markers: the top byte of every sample, 0x05 in frame 0, then alternating with 0xFA.
inline constexpr std::uint8_t kDopMarker = 0x05;
inline constexpr std::uint8_t kDopMarkerAlternate = 0xFA;
// A DoP frame carries 16 one-bit samples per channel in 24 valid bits (marker and two bytes).
inline constexpr std::uint32_t kDopBitsPerFrame = 16;
inline constexpr std::uint16_t kDopValidBits = 24;

// Replaces the DsdBuffer in the slot by DoP frames in a PcmBuffer of 24- or 32-bit containers
// at DSD rate / 16 Hz. Frame f carries the byte pairs 2f and 2f + 1; each channel's sample,
// read as a little-endian integer, is marker, earlier byte, later byte (each with its bits
// reversed, so the earliest 1-bit sample is the most significant), then a zero byte in a 32-bit
// container: 24 bits: rev(L1) rev(L0) M rev(R1) rev(R0) M. Frames are length / 2 rounded down to
// an even count (at most three bytes per channel are dropped), so the markers of a looped
// track keep alternating. Fails for another container, 22,579,200 Hz (no DoP rate carries it)
// or any other rate, fewer than 4 bytes per channel, a refused allocation or a worker that cannot
// start. The source is freed in every case; on failure the slot is empty. Does not poll `stop`.
// Playback thread.
[[nodiscard]] Result PackDop(BufferSlot& slot, unsigned containerBits,
                             const platform::StopWord& stop);

}  // namespace lumaro::dsp
