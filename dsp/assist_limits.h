#pragma once

#include <cstdint>

// The volume-assist values: the range each may take and its default, as the dialogs offer them
// and the stages check them. Every other place refers to these.
namespace lumaro::dsp {

struct AssistLimits {
  std::uint32_t min;
  std::uint32_t max;
  std::uint32_t reset;  // the default, and the dialog's Reset value
};

// Peak normalization: target in percent of full scale.
inline constexpr AssistLimits kPeakTargetLimits{0, 100, 100};
// Compression: level in thousandths of full scale, downward and upward in percent, largest gain
// in hundredths, window in milliseconds, share of the window after the frame in percent.
inline constexpr AssistLimits kCompThresholdLimits{10, 200, 80};
inline constexpr AssistLimits kCompDownwardLimits{0, 100, 0};
inline constexpr AssistLimits kCompUpwardLimits{0, 100, 50};
inline constexpr AssistLimits kCompMaxAmplificationLimits{100, 2000, 800};
inline constexpr AssistLimits kCompCellSizeLimits{100, 4000, 2000};
inline constexpr AssistLimits kCompTimeLagBalanceLimits{0, 100, 50};
// Loudness normalization: target level in thousandths of full scale.
inline constexpr AssistLimits kLoudnessTargetLimits{1, 800, 126};

// Loudness measures: 0 ARV (mean absolute value), anything else RMS; RMS is the default.
inline constexpr std::uint32_t kLoudnessTypeArv = 0;
inline constexpr std::uint32_t kLoudnessTypeRms = 1;

}  // namespace lumaro::dsp
