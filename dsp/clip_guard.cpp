#include "dsp/clip_guard.h"

#include <algorithm>
#include <cmath>

#include "dsp/parallel_for.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {
enum : Result { kErrNoBuffer = FirstCode(FailureSite::kClipGuard), kErrEmptyBuffer };
constexpr platform::FailureNames kFailures{
    FailureSite::kClipGuard,
    kErrEmptyBuffer,
    {"clip-guard without a record", "clip-guard empty record"}};

constexpr double kFullScale = 1.0;
}  // namespace

double PeakOfSamples(const double* samples, std::uint64_t count, const platform::StopWord& stop) {
  double peak = 0.0;
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) break;
    const std::uint64_t end = 2 * std::min(count, done + kStopPollFrames);
    for (std::uint64_t i = 2 * done; i < end; ++i) {
      peak = std::max(peak, std::fabs(samples[i]));
    }
  }
  return peak;
}

double PeakOfFrames(const AudioBuffer& buffer, std::uint64_t first, std::uint64_t count,
                    const platform::StopWord& stop) {
  return PeakOfSamples(buffer.Frame(static_cast<std::int64_t>(first)), count, stop);
}

void ScaleSamples(double* samples, std::uint64_t count, double gain,
                  const platform::StopWord& stop) {
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) break;
    const std::uint64_t end = 2 * std::min(count, done + kStopPollFrames);
    for (std::uint64_t i = 2 * done; i < end; ++i) {
      samples[i] *= gain;
    }
  }
}

void ScaleFrames(AudioBuffer& buffer, std::uint64_t first, std::uint64_t count, double gain,
                 const platform::StopWord& stop) {
  ScaleSamples(buffer.Frame(static_cast<std::int64_t>(first)), count, gain, stop);
}

std::optional<double> ClipGuardGain(double peak) noexcept {
  if (peak <= kFullScale) return std::nullopt;
  return kFullScale / peak;
}

double ScaledPeak(double peak, double gain) noexcept {
  const double scaled = peak * gain;
  // An infinite peak and its gain of 0 leave only zeros (and not-a-number samples, passed over).
  return std::isnan(scaled) ? 0.0 : scaled;
}

Result ClipGuard(BufferSlot& slot, const platform::StopWord& stop) {
  AudioBuffer* buffer = slot.Get<AudioBuffer>();
  if (buffer == nullptr) return kFailures.Note(kErrNoBuffer);
  if (buffer->frameCount == 0) return kFailures.Note(kErrEmptyBuffer);

  std::array<double, kMaxWorkerSlots> peaks{};
  Result result = ParallelFor(buffer->frameCount, stop, [&](unsigned worker, Slice slice) {
    peaks[worker] = PeakOfFrames(*buffer, slice.first, slice.count, stop);
  });
  if (result != kOk) return result;
  return ClipGuardWithPeak(*buffer, *std::max_element(peaks.begin(), peaks.end()), stop);
}

Result ClipGuardWithPeak(AudioBuffer& buffer, double peak, const platform::StopWord& stop) {
  const std::optional<double> gain = ClipGuardGain(peak);
  if (!gain) return kOk;
  return ParallelFor(buffer.frameCount, stop, [&](unsigned, Slice slice) {
    ScaleFrames(buffer, slice.first, slice.count, *gain, stop);
  });
}

}  // namespace lumaro::dsp
