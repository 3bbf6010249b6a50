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

// ⌊n / d⌋ cut to 64 bits, as static_cast<std::uint64_t>(n / d). When the quotient fits in 64
// bits (d below 2^64 and n's high half below d) the processor's 128-by-64 division does it in one
// instruction; the compiler's 128-bit division is a library call many times slower.
inline std::uint64_t DivideToU64(Sum128 n, Sum128 d) noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  const auto high = static_cast<std::uint64_t>(n >> 64);
  if ((d >> 64) == 0 && high < static_cast<std::uint64_t>(d)) {
    std::uint64_t quotient = static_cast<std::uint64_t>(n);
    std::uint64_t remainder = high;
    __asm__("divq %[divisor]"
            : "+a"(quotient), "+d"(remainder)
            : [divisor] "rm"(static_cast<std::uint64_t>(d))
            : "cc");
    return quotient;
  }
#endif
  return static_cast<std::uint64_t>(n / d);
}

// Sum128 to double: exact below 2^53, within two roundings above (the compiler's own
// conversion is a library call).
inline double ToDouble(Sum128 v) noexcept {
  constexpr double kTwoPow64 = 18446744073709551616.0;
  return static_cast<double>(static_cast<std::uint64_t>(v >> 64)) * kTwoPow64 +
         static_cast<double>(static_cast<std::uint64_t>(v));
}

}  // namespace lumaro::dsp
