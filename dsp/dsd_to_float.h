#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "dsp/buffer_slot.h"
#include "dsp/float_to_output.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// The 1-bit to PCM filter: 96 symmetric taps (the cubic convolution kernel with parameter -1 at
// 24 phases, each phase normalised to 1, the whole scaled to sum 2.0 so that all one-bits give
// +2.0) and, for table k and byte b, the sum over bit j of ±1 × tap 8k + j (+1 when bit j is
// set; bit 0 is the earliest sample). Twelve lookups, one per byte of a twelve-byte window,
// replace 96 multiply-adds.
struct DsdFilter {
  static constexpr unsigned kTaps = 96;
  static constexpr unsigned kTables = 12;
  std::array<double, kTaps> taps;
  std::array<std::array<double, 256>, kTables> table;
};

// Fills `filter` as described above.
void BuildDsdFilter(DsdFilter& filter) noexcept;

// The PCM rate and decimation for a DSD rate: rate / 8, halved (and the decimation doubled)
// while above 768,000. False when the rate is not a multiple of 8, rate / 8 is below 8000, or a
// halving does not divide rate / 8.
bool DsdDecimation(std::uint32_t dsdRate, std::uint32_t* pcmRate, unsigned* decimation) noexcept;

// Replaces the DsdBuffer in the slot with an AudioBuffer (lead-in 48, not filled) of
// length / decimation frames at the rate DsdDecimation gives. Each byte position p of a
// channel gives the sum of table[k][byte p - 6 + k] for k = 0 … 11 (the window reaches into the
// DsdBuffer's 0xCC lead-in at the ends); with a decimation D the mean of D consecutive positions
// makes one frame. The result then passes ClipGuard. The AudioBuffer is made in the DsdBuffer's
// own block grown to its size where it can grow (GuardedGrow; in levels from the last frame
// back), else in a new block; the bytes are the same. The DsdBuffer is freed in every case; on
// failure (rate, no frames, memory guard, a worker that cannot start, a stop) the slot is empty.
// Playback thread.
[[nodiscard]] Result DsdToFloat(BufferSlot& slot, const platform::StopWord& stop);

// DsdToFloat (its clip guard included), then ClipGuard once more when `clipGuard`, then
// FloatToOutput with `format`, in one stage giving the same output record byte for byte: the
// filter writes a block of frames at a time into a small buffer per worker and from there
// straight into the output record, so the track in 64-bit float never exists whole (BlocksToOutput
// tells how). For output at the rate DsdDecimation gives. Fails where one of the stages would;
// the slot is empty after a failure. Playback thread.
[[nodiscard]] Result DsdToOutput(BufferSlot& slot, bool clipGuard, const OutputFormat& format,
                                 const std::function<void()>& beforeConversion,
                                 const platform::StopWord& stop);

}  // namespace lumaro::dsp
