#pragma once

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumaro::dsp {

// Left and right sample of one frame, held in one SSE2 register where the machine has it. Every
// operation is a single IEEE double operation per lane, with no fused multiply-add, so results
// are bit-identical between the vector and the scalar build whatever instruction set the
// compiler may use.
#if defined(__SSE2__)
struct StereoPair {
  __m128d v;

  static StereoPair Load(const double* frame) noexcept { return {_mm_loadu_pd(frame)}; }
  static StereoPair Splat(double x) noexcept { return {_mm_set1_pd(x)}; }
  static StereoPair Zero() noexcept { return {_mm_setzero_pd()}; }
  void Store(double* frame) const noexcept { _mm_storeu_pd(frame, v); }
  double Left() const noexcept { return _mm_cvtsd_f64(v); }
  double Right() const noexcept { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }

  friend StereoPair operator+(StereoPair a, StereoPair b) noexcept {
    return {_mm_add_pd(a.v, b.v)};
  }
  friend StereoPair operator-(StereoPair a, StereoPair b) noexcept {
    return {_mm_sub_pd(a.v, b.v)};
  }
  friend StereoPair operator*(StereoPair a, StereoPair b) noexcept {
    return {_mm_mul_pd(a.v, b.v)};
  }

  // The lanes whose magnitude is beyond `bound`, or not a number, as bits (bit 0 left, bit 1
  // right).
  unsigned LanesBeyond(double bound) const noexcept {
    const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), v);
    return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpnle_pd(magnitude, _mm_set1_pd(bound))));
  }
  // This pair with the lanes in `lanes` (bits as LanesBeyond's) set to 0.0.
  StereoPair Without(unsigned lanes) const noexcept { return {_mm_and_pd(v, KeepMask(lanes))}; }
  // All ones in the lanes not in `lanes`, zeros in those in it.
  static __m128d KeepMask(unsigned lanes) noexcept {
    return _mm_castsi128_pd(_mm_set_epi64x((lanes & 2U) != 0 ? 0 : -1, (lanes & 1U) != 0 ? 0 : -1));
  }

  // +1.0 in each lane whose sign bit is clear, −1.0 where it is set, and the lanes' choice as
  // bits (bit 0 left, bit 1 right). No branch and no compare: the sign bit is copied onto 1.0.
  // This is value >= 0 for every value but −0.0 and not-a-number.
  StereoPair SignOf(unsigned* bits) const noexcept {
    *bits = static_cast<unsigned>(_mm_movemask_pd(v)) ^ 3U;
    return {_mm_or_pd(_mm_and_pd(v, _mm_set1_pd(-0.0)), _mm_set1_pd(1.0))};
  }
};
#else
struct StereoPair {
  double l;
  double r;

  static StereoPair Load(const double* frame) noexcept { return {frame[0], frame[1]}; }
  static StereoPair Splat(double x) noexcept { return {x, x}; }
  static StereoPair Zero() noexcept { return {0.0, 0.0}; }
  void Store(double* frame) const noexcept {
    frame[0] = l;
    frame[1] = r;
  }
  double Left() const noexcept { return l; }
  double Right() const noexcept { return r; }

  friend StereoPair operator+(StereoPair a, StereoPair b) noexcept {
    return {a.l + b.l, a.r + b.r};
  }
  friend StereoPair operator-(StereoPair a, StereoPair b) noexcept {
    return {a.l - b.l, a.r - b.r};
  }
  friend StereoPair operator*(StereoPair a, StereoPair b) noexcept {
    return {a.l * b.l, a.r * b.r};
  }

  unsigned LanesBeyond(double bound) const noexcept {
    return (std::fabs(l) <= bound ? 0U : 1U) | (std::fabs(r) <= bound ? 0U : 2U);
  }
  StereoPair Without(unsigned lanes) const noexcept {
    return {(lanes & 1U) != 0 ? 0.0 : l, (lanes & 2U) != 0 ? 0.0 : r};
  }

  StereoPair SignOf(unsigned* bits) const noexcept {
    *bits = (std::signbit(l) ? 0U : 1U) | (std::signbit(r) ? 0U : 2U);
    return {std::copysign(1.0, l), std::copysign(1.0, r)};
  }
};
#endif

}  // namespace lumaro::dsp
