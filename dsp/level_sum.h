#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "dsp/assist_limits.h"
#include "dsp/record_ptr.h"

namespace lumaro::dsp {

// Level measurements add integer terms so that a running or split sum is exact: the same
// samples give the same total whatever order or slicing added them.
using Sum128 = Size128;

// The two level measures the volume-assist stages offer, as the dialogs store them.

// 2^31 and 2^-31: a full-scale sample becomes the integer 2^31 and back.
inline constexpr double kTwoPow31 = 2147483648.0;
inline constexpr double kTwoPowMinus31 = 4.656612873077393e-10;

// floor(v) as an unsigned 64-bit integer for v ≥ 0, saturating at 2^64 − 1 above the range and
// answering 0 for NaN, so that no sample, however wild, makes a conversion undefined.
inline std::uint64_t TruncateToU64(double v) noexcept {
  constexpr double kTwoPow63 = 9223372036854775808.0;
  if (v < kTwoPow63) return static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
  if (std::isnan(v)) return 0;
  if (v >= 2.0 * kTwoPow63) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(v);
}

// Sum128 to double: exact below 2^53, within two roundings above (the compiler's own
// conversion is a library call).
inline double ToDouble(Sum128 v) noexcept {
  constexpr double kTwoPow64 = 18446744073709551616.0;
  return static_cast<double>(static_cast<std::uint64_t>(v >> 64)) * kTwoPow64 +
         static_cast<double>(static_cast<std::uint64_t>(v));
}

}  // namespace lumaro::dsp
