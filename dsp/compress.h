#pragma once

#include <cstdint>

#include "dsp/assist_limits.h"
#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// The compression dialog's seven values, as it stores them (ranges and defaults in
// assist_limits.h).
struct CompressParameters {
  std::uint32_t threshold = kCompThresholdLimits.reset;  // target level
  std::uint32_t downward =
      kCompDownwardLimits.reset;                   // share of the way a loud window is pulled down
  std::uint32_t upward = kCompUpwardLimits.reset;  // share of the way a quiet window is lifted
  std::uint32_t maxAmplification = kCompMaxAmplificationLimits.reset;  // largest gain
  std::uint32_t cellSize = kCompCellSizeLimits.reset;                  // window length
  std::uint32_t timeLagBalance = kCompTimeLagBalanceLimits.reset;      // share after the frame
  std::uint32_t loudnessType = kLoudnessTypeRms;
};

// The level window around output frame i: the length + 1 frames [i − offset, i − offset + length].
struct CompressWindow {
  std::uint64_t length = 0;  // M = max(rate × cell / 1000, 48)
  std::uint64_t offset = 0;  // o = floor((100 − balance) × M / 100)
};

// The window of a track at `sampleRate` for the given cell size and balance (both in range).
CompressWindow CompressWindowFor(std::uint32_t sampleRate, std::uint32_t cellSize,
                                 std::uint32_t timeLagBalance) noexcept;

// The gain rule in full-scale units, made once from the parameters.
struct CompressGainRule {
  double threshold;  // T
  double downward;   // D
  double upward;     // U
  double maxGain;    // A

  static CompressGainRule From(const CompressParameters& p) noexcept;

  // The gain for a window of level L: 0 for silence (L ≤ 0) and for a negative gain; else
  // 1 + D × (T / L − 1) above T, 1 + U × (T / L − 1) at or below T, never more than A.
  double GainFor(double level) const noexcept;
};

// Evens out the loudness of the AudioBuffer in the slot over time: every real frame is
// multiplied by the gain of the level of its window, measured on the clip-guarded track mirrored
// about its ends; the result is clip-guarded too. Window sums are kept in integers, so they are
// exact and the cost per frame does not depend on the cell size. The frames are written over the
// track's own, with the memory of a padded copy asked of the memory guard but not taken.
// Fails for a slot without an AudioBuffer, zero frames, a rate outside 8000 … 0x3FFFFFFF, a
// parameter out of range, a refused allocation, a worker that cannot start or a stop request:
// then every block is freed and the slot is left empty. Playback thread.
[[nodiscard]] Result Compress(BufferSlot& slot, const CompressParameters& parameters,
                              const platform::StopWord& stop);

}  // namespace lumaro::dsp
