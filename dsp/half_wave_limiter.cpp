#include "dsp/half_wave_limiter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumaro::dsp {
namespace {

enum : Result { kErrNoBuffer = 1, kErrEmptyBuffer };
constexpr double kFullScale = 1.0;

// True when a and b have strictly opposite signs (their product is negative, but without the
// underflow of a product of two tiny values).
bool SignChanges(double previous, double current) noexcept {
  return (previous < 0.0 && current > 0.0) || (previous > 0.0 && current < 0.0);
}

// Limits one channel of `frames` samples, `samples[2 × k]` being sample k. Half-waves without
// an overshoot are never written, so the walk only looks for samples above full scale; from
// each one it finds the bounds of its half-wave (back and forth to the sign changes), scales
// the half-wave by 1 / its peak and goes on after it. Every sample is visited at most twice.
void LimitChannel(double* samples, std::uint64_t frames) noexcept {
  auto at = [samples](std::uint64_t k) -> double& { return samples[2 * k]; };
  std::uint64_t k = 0;
  while (true) {
    while (k < frames && !(std::fabs(at(k)) > kFullScale)) ++k;
    if (k == frames) return;
    std::uint64_t start = k;
    while (start > 0 && !SignChanges(at(start - 1), at(start))) --start;
    double peak = std::fabs(at(k));  // samples before k in this half-wave are below it
    std::uint64_t end = k + 1;
    for (; end < frames && !SignChanges(at(end - 1), at(end)); ++end) {
      peak = std::max(peak, std::fabs(at(end)));
    }
    const double gain = kFullScale / peak;
    for (std::uint64_t j = start; j < end; ++j) at(j) *= gain;
    k = end;
  }
}

}  // namespace

Result HalfWaveLimiter(BufferSlot& slot, const platform::StopWord& /*stop*/) {
  AudioBuffer* buffer = slot.Get<AudioBuffer>();
  if (buffer == nullptr) return kErrNoBuffer;
  const std::uint64_t frames = buffer->frameCount;
  if (frames == 0) return kErrEmptyBuffer;

  LimitChannel(buffer->Frame(0), frames);
  LimitChannel(buffer->Frame(0) + 1, frames);
  return kOk;
}

}  // namespace lumaro::dsp
