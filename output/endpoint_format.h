#pragma once

#include <cstdint>
#include <string_view>

#include "dsp/pack_dop.h"
#include "platform/device_formats.h"

namespace lumaro::output {

// The choices the format selection and the rate lists try, in their order.
using dsp::kDopBitsPerFrame;
using dsp::kDopValidBits;
using platform::kPcmCandidates;
using platform::kRateLadder;
using platform::kSharedFloatBits;
using platform::kSharedMaxRate;
using platform::kSharedMinRate;
using platform::PcmCandidate;
inline constexpr std::uint32_t kDopRates[] = {705600, 352800, 176400};
inline constexpr std::uint16_t kDopContainers[] = {24, 32};

// The small decimal reader of rate texts: for each character the value is multiplied by 10 and
// the digits 1 to 9 add their value; every other character adds nothing ("" gives 0).
std::uint32_t ReadDecimal(std::u16string_view text);

// The DoP rate of a "D" rate text: D64 → 176400, D128 → 352800, D256 → 705600; any other
// multiple gives 0, which no endpoint takes.
std::uint32_t DopRateOf(std::u16string_view rateText);

// True for "Share" and "Auto" in any letter case.
bool IsShareRate(std::u16string_view rateText);
bool IsAutoRate(std::u16string_view rateText);

}  // namespace lumaro::output
