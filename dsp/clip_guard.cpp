#include "dsp/clip_guard.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/parallel_for.h"
#include "dsp/vector_unit.h"
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

// The largest of a set is the same in any order, so it is taken in several lanes at once.
double PeakOfRun(const double* samples, std::uint64_t first, std::uint64_t end, double peak) {
  std::uint64_t i = first;
#if defined(__SSE2__)
  constexpr std::uint64_t kLanes = 8;  // four registers of two
  const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  // max(|x|, lane) answers the lane when |x| is not a number, as std::max(peak, |x|) does.
  __m128d lanes[4] = {_mm_set1_pd(peak), _mm_set1_pd(peak), _mm_set1_pd(peak), _mm_set1_pd(peak)};
  for (; i + kLanes <= end; i += kLanes) {
    PrefetchAhead(samples + i, kLanes * sizeof(double));
    for (int r = 0; r < 4; ++r) {
      lanes[r] = _mm_max_pd(_mm_and_pd(_mm_loadu_pd(samples + i + 2 * r), magnitude), lanes[r]);
    }
  }
  const __m128d both = _mm_max_pd(_mm_max_pd(lanes[0], lanes[1]), _mm_max_pd(lanes[2], lanes[3]));
  peak = std::max(_mm_cvtsd_f64(both), _mm_cvtsd_f64(_mm_unpackhi_pd(both, both)));
#endif
  for (; i < end; ++i) peak = std::max(peak, std::fabs(samples[i]));
  return peak;
}

double PeakOfSamples(const double* samples, std::uint64_t count, const platform::StopWord& stop) {
  double peak = 0.0;
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) break;
    peak = PeakOfRun(samples, 2 * done, 2 * std::min(count, done + kStopPollFrames), peak);
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
  double peak = 0.0;
  return ClipGuardTellingPeak(slot, stop, &peak);
}

Result ClipGuardTellingPeak(BufferSlot& slot, const platform::StopWord& stop, double* peakAfter) {
  AudioBuffer* buffer = slot.Get<AudioBuffer>();
  if (buffer == nullptr) return kFailures.Note(kErrNoBuffer);
  if (buffer->frameCount == 0) return kFailures.Note(kErrEmptyBuffer);

  double peak = 0.0;
  if (const Result measured = PeakOfRecord(*buffer, stop, &peak); measured != kOk) return measured;
  if (const Result guarded = ClipGuardWithPeak(*buffer, peak, stop); guarded != kOk) return guarded;
  const std::optional<double> gain = ClipGuardGain(peak);
  *peakAfter = gain ? ScaledPeak(peak, *gain) : peak;
  return kOk;
}

Result PeakOfRecord(const AudioBuffer& buffer, const platform::StopWord& stop, double* peak) {
  std::array<double, kMaxWorkerSlots> peaks{};
  const Result result = ParallelFor(buffer.frameCount, stop, [&](unsigned worker, Slice slice) {
    peaks[worker] = PeakOfFrames(buffer, slice.first, slice.count, stop);
  });
  *peak = *std::max_element(peaks.begin(), peaks.end());
  return result;
}

Result ClipGuardWithPeak(AudioBuffer& buffer, double peak, const platform::StopWord& stop) {
  const std::optional<double> gain = ClipGuardGain(peak);
  if (!gain) return kOk;
  return ParallelFor(buffer.frameCount, stop, [&](unsigned, Slice slice) {
    ScaleFrames(buffer, slice.first, slice.count, *gain, stop);
  });
}

}  // namespace lumaro::dsp
