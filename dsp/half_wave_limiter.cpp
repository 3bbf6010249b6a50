#include "dsp/half_wave_limiter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumaro::dsp {
namespace {

enum : Result { kErrNoBuffer = 1, kErrEmptyBuffer };
constexpr double kFullScale = 1.0;

// One channel's current half-wave: where it began and its largest magnitude so far.
struct HalfWave {
  std::uint64_t start = 0;
  double peak = 0.0;
};

// True when a and b have strictly opposite signs (their product is negative, but without the
// underflow of a product of two tiny values).
bool SignChanges(double previous, double current) noexcept {
  return (previous < 0.0 && current > 0.0) || (previous > 0.0 && current < 0.0);
}

// Scales channel samples [wave.start, end) of the interleaved `samples` by 1 / peak when the
// half-wave's peak exceeds full scale; leaves them exactly as they are otherwise.
void CloseHalfWave(double* samples, const HalfWave& wave, std::uint64_t end) noexcept {
  if (!(wave.peak > kFullScale)) return;
  const double gain = kFullScale / wave.peak;
  for (std::uint64_t k = wave.start; k < end; ++k) samples[2 * k] *= gain;
}

}  // namespace

Result HalfWaveLimiter(BufferSlot& slot, const platform::StopWord& /*stop*/) {
  AudioBuffer* buffer = slot.Get<AudioBuffer>();
  if (buffer == nullptr) return kErrNoBuffer;
  const std::uint64_t frames = buffer->frameCount;
  if (frames == 0) return kErrEmptyBuffer;

  // Both channels in one walk over the frames; channel c's samples are samples[2k + c].
  double* samples = buffer->Frame(0);
  HalfWave waves[2];
  for (int c = 0; c < 2; ++c) waves[c].peak = std::fabs(samples[c]);
  for (std::uint64_t k = 1; k < frames; ++k) {
    for (int c = 0; c < 2; ++c) {
      const double current = samples[2 * k + c];
      if (SignChanges(samples[2 * (k - 1) + c], current)) {
        CloseHalfWave(samples + c, waves[c], k);
        waves[c] = HalfWave{k, 0.0};
      }
      waves[c].peak = std::max(waves[c].peak, std::fabs(current));
    }
  }
  for (int c = 0; c < 2; ++c) CloseHalfWave(samples + c, waves[c], frames);
  return kOk;
}

}  // namespace lumaro::dsp
