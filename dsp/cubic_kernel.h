#pragma once

#include <array>
#include <cmath>

namespace lumaro::dsp {

// The cubic convolution kernel with parameter −1: k(0) = 1, k(1) = k(2) = 0, smooth between.
constexpr double CubicKernel(double t) noexcept {
  if (t < 1.0) return (t - 2.0) * t * t + 1.0;
  if (t < 2.0) return ((5.0 - t) * t - 8.0) * t + 4.0;
  return 0.0;
}

// The four weights for the samples at −1, 0, 1 and 2 of a point at fraction d (0 ≤ d < 1) past
// sample 0, divided by their sum so that a constant stays exactly constant.
inline std::array<double, 4> CubicWeights(double d) noexcept {
  std::array<double, 4> w = {CubicKernel(std::fabs(d + 1.0)), CubicKernel(std::fabs(d)),
                             CubicKernel(std::fabs(1.0 - d)), CubicKernel(std::fabs(2.0 - d))};
  const double sum = w[0] + w[1] + w[2] + w[3];
  for (double& x : w) x /= sum;
  return w;
}

}  // namespace lumaro::dsp
