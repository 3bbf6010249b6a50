#include "dsp/half_wave_limiter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dsp/clip_guard.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result { kErrNoBuffer = FirstCode(FailureSite::kHalfWaveLimiter), kErrEmptyBuffer };
constexpr platform::FailureNames kFailures{
    FailureSite::kHalfWaveLimiter,
    kErrEmptyBuffer,
    {"half-wave-limiter without a record", "half-wave-limiter empty record"}};

constexpr double kFullScale = 1.0;

// True when a and b have strictly opposite signs (their product is negative, but without the
// underflow of a product of two tiny values).
bool SignChanges(double previous, double current) noexcept {
  return (previous < 0.0 && current > 0.0) || (previous > 0.0 && current < 0.0);
}

// Scales the half-wave of channel sample k (`samples[2 × k]`, whose |x| exceeds full scale) by
// 1 / its peak and answers where the half-wave ends. Its bounds are the sign changes found
// back and forth from k; the samples before k in it lie within full scale, so the peak is
// found from k on.
std::uint64_t LimitHalfWave(double* samples, std::uint64_t frames, std::uint64_t k) noexcept {
  auto at = [samples](std::uint64_t j) -> double& { return samples[2 * j]; };
  std::uint64_t start = k;
  while (start > 0 && !SignChanges(at(start - 1), at(start))) --start;
  double peak = std::fabs(at(k));
  std::uint64_t end = k + 1;
  for (; end < frames && !SignChanges(at(end - 1), at(end)); ++end) {
    peak = std::max(peak, std::fabs(at(end)));
  }
  const double gain = kFullScale / peak;
  for (std::uint64_t j = start; j < end; ++j) at(j) *= gain;
  return end;
}

// Samples looked at together for an overshoot; a block within full scale is passed at once.
// Its peak is taken in vector lanes, where a running maximum would wait on each sample.
constexpr std::uint64_t kScanBlock = 256;

}  // namespace

Result HalfWaveLimiter(BufferSlot& slot, const platform::StopWord& /*stop*/) {
  AudioBuffer* buffer = slot.Get<AudioBuffer>();
  if (buffer == nullptr) return kFailures.Note(kErrNoBuffer);
  const std::uint64_t frames = buffer->frameCount;
  if (frames == 0) return kFailures.Note(kErrEmptyBuffer);

  // Half-waves within full scale are never written, so the walk only looks for overshoots,
  // both channels at once; each one found limits its channel's half-wave, which is then
  // skipped (its scaled samples may round a hair above 1.0 and must not be limited twice).
  // Every sample is read at most three times.
  double* samples = buffer->Frame(0);
  const std::uint64_t count = 2 * frames;
  std::uint64_t limitedTo[2] = {0, 0};  // per channel: frames before this are done
  for (std::uint64_t block = 0; block < count; block += kScanBlock) {
    const std::uint64_t blockEnd = std::min(count, block + kScanBlock);
    if (!(PeakOfRun(samples, block, blockEnd, 0.0) > kFullScale)) continue;
    for (std::uint64_t i = block; i < blockEnd; ++i) {
      const std::uint64_t k = i / 2, channel = i % 2;
      if (k >= limitedTo[channel] && std::fabs(samples[i]) > kFullScale) {
        limitedTo[channel] = LimitHalfWave(samples + channel, frames, k);
      }
    }
  }
  return kOk;
}

}  // namespace lumaro::dsp
