#pragma once

#include <cstdint>
#include <string_view>

namespace lumaro::output {

// The choices the format selection and the rate lists try, in their order.
inline constexpr std::uint32_t kRateLadder[] = {768000, 705600, 384000, 352800, 192000, 176400,
                                                96000,  88200,  48000,  44100,  32000};
struct PcmCandidate {
  std::uint16_t validBits;
  std::uint16_t containerBits;
};
inline constexpr PcmCandidate kPcmCandidates[] = {{32, 32}, {24, 32}, {24, 24}, {16, 16}};
inline constexpr std::uint32_t kDopRates[] = {705600, 352800, 176400};
inline constexpr std::uint16_t kDopValidBits = 24;
inline constexpr std::uint16_t kDopContainers[] = {24, 32};
// DoP carries 16 one-bit samples per channel in each frame.
inline constexpr std::uint32_t kDopBitsPerFrame = 16;
inline constexpr std::uint32_t kSharedMaxRate = 384000;
inline constexpr std::uint32_t kSharedMinRate = 8000;
inline constexpr std::uint16_t kFloatBits = 32;

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
