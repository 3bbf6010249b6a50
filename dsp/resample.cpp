#include "dsp/resample.h"

#include <algorithm>
#include <array>
#include <optional>

#include "dsp/clip_guard.h"
#include "dsp/decimate.h"
#include "dsp/float_to_output.h"
#include "dsp/guarded_alloc.h"
#include "dsp/interpolate.h"
#include "dsp/mirror_lead_in.h"
#include "dsp/parallel_for.h"
#include "dsp/worker_count.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {
enum : Result {
  kErrNoBuffer = FirstCode(FailureSite::kResample),
  kErrSourceRate,
  kErrTargetRate,
  kErrNoFrames,
  kErrStep,
  kErrOutputFormat,
  kErrOutput,
  kErrScratch,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kResample,
    kErrScratch,
    {"resample without a record", "resample source rate", "resample target rate",
     "resample without frames", "resample step", "resample-to-output width",
     "resample-to-output output", "resample-to-output block memory"}};

// Resample's checks of the buffer in the slot and the target (its failure, noted), or kOk.
Result CheckResample(const BufferSlot& slot, std::uint32_t target) {
  const AudioBuffer* buffer = slot.Get<AudioBuffer>();
  if (buffer == nullptr) return kFailures.Note(kErrNoBuffer);
  if (buffer->sampleRate < kMinSampleRate) return kFailures.Note(kErrSourceRate);
  if (target < kMinSampleRate || target > kMaxResampleRate) {
    return kFailures.Note(kErrTargetRate);
  }
  if (buffer->frameCount == 0) return kFailures.Note(kErrNoFrames);
  return kOk;
}

// One step of Resample on the slot (its failure, noted).
Result RunRateStep(BufferSlot& slot, RateStep step, const platform::StopWord& stop) {
  const Result result = step.kind == RateStep::Kind::kDecimate
                            ? Decimate(slot, step.value, stop)
                            : Interpolate(slot, step.value, stop);
  return result == kOk ? kOk : kFailures.Note(kErrStep);
}

// The last rate step, an interpolation, with the clip guard and the output conversion, one second
// at a time. The first pass makes each second, measures it and converts it as for a peak within
// full scale; when the whole track's peak is within it, those are the bytes. Otherwise a second
// pass makes each second again and converts it with the gains that follow from the peak. Takes
// the buffer out of the slot; on success puts the output record in.
Result ConvertLastInterpolation(BufferSlot& slot, std::uint32_t target, bool clipGuard,
                                const OutputFormat& format,
                                const std::function<void()>& beforeConversion,
                                const platform::StopWord& stop) {
  const AudioBufferPtr in = slot.TakeAs<AudioBuffer>();
  InterpolationPlan plan;
  if (PlanInterpolation(*in, target, plan) != kOk) return kFailures.Note(kErrStep);
  const std::uint64_t seconds = plan.Seconds();
  const std::uint64_t slots = std::min<std::uint64_t>(WorkerCount(), seconds);
  const std::uint64_t secondSamples = 2 * std::uint64_t{target};
  const RecordPtr<double> scratch(
      static_cast<double*>(GuardedAlloc(slots * secondSamples * sizeof(double))));
  if (!scratch) return kFailures.Note(kErrScratch);
  const OutputConversion withinFullScale(format.validBits, format.containerBits, format.asFloat,
                                         1.0);
  PcmBufferPtr out = withinFullScale.NewRecord(target, plan.frames);
  if (!out) return kFailures.Note(kErrOutput);
  MirrorLeadIn(*in);

  // Second s into the worker's scratch, converted into the output record; answers its peak.
  const auto convertSecond = [&](unsigned worker, std::uint64_t s, const OutputConversion& to,
                                 std::optional<double> guard) {
    double* y = scratch.get() + worker * secondSamples;
    const std::uint64_t first = s * target;
    const std::uint64_t count = std::min<std::uint64_t>(target, plan.frames - first);
    InterpolateSeconds(*in, plan, s, 1, y, stop);
    const double peak = PeakOfSamples(y, count, stop);
    if (guard) ScaleSamples(y, count, *guard, stop);
    to.Convert(y, count, out->Data() + first * out->BytesPerFrame(), stop);
    return peak;
  };
  std::array<double, kMaxWorkerSlots> peaks{};
  Result result = ParallelFor(seconds, stop, [&](unsigned worker, Slice slice) {
    for (std::uint64_t s = slice.first; s < slice.first + slice.count && stop.Load() == 0; ++s) {
      peaks[worker] = std::max(peaks[worker], convertSecond(worker, s, withinFullScale, {}));
    }
  });
  if (result != kOk) return result;
  beforeConversion();
  // The clip guard's gain and the peak the conversion would measure after it follow from the
  // peak itself: rounding keeps the order of magnitudes.
  double peak = *std::max_element(peaks.begin(), peaks.end());
  const std::optional<double> guard = clipGuard ? ClipGuardGain(peak) : std::nullopt;
  if (guard) peak = ScaledPeak(peak, *guard);
  if (guard || peak > 1.0) {
    const OutputConversion scaled(format.validBits, format.containerBits, format.asFloat, peak);
    result = ParallelFor(seconds, stop, [&](unsigned worker, Slice slice) {
      for (std::uint64_t s = slice.first; s < slice.first + slice.count && stop.Load() == 0; ++s) {
        (void)convertSecond(worker, s, scaled, guard);
      }
    });
    if (result != kOk) return result;
  }
  slot.Put(std::move(out));
  return kOk;
}

// ResampleToOutput with the slot left as it stands on failure.
Result RunResampleToOutput(BufferSlot& slot, std::uint32_t target, bool clipGuard,
                           const OutputFormat& format,
                           const std::function<void()>& beforeConversion,
                           const platform::StopWord& stop) {
  if (const Result checked = CheckResample(slot, target); checked != kOk) return checked;
  if (!IsOutputFormat(format.validBits, format.containerBits)) {
    return kFailures.Note(kErrOutputFormat);
  }
  for (;;) {
    const std::uint32_t rate = slot.Get<AudioBuffer>()->sampleRate;
    const RateStep step = NextRateStep(rate, target);
    if (step.kind == RateStep::Kind::kNone) break;
    if (step.kind == RateStep::Kind::kInterpolate && step.value == target) {
      return ConvertLastInterpolation(slot, target, clipGuard, format, beforeConversion, stop);
    }
    if (const Result stepped = RunRateStep(slot, step, stop); stepped != kOk) return stepped;
  }
  // A last decimation (it makes a smaller track than it reads, and is dear to make twice) or
  // equal rates: the two stages themselves.
  if (clipGuard) {
    if (const Result guarded = ClipGuard(slot, stop); guarded != kOk) return guarded;
  }
  beforeConversion();
  return FloatToOutput(slot, format.validBits, format.containerBits, format.asFloat, stop);
}

}  // namespace

RateStep NextRateStep(std::uint32_t rate, std::uint32_t target) noexcept {
  if (rate == target || target == 0) return {};
  if (rate < target) return {RateStep::Kind::kInterpolate, target};
  for (const std::uint32_t factor : {8U, 4U, 2U}) {
    if (rate % factor == 0 && rate >= static_cast<std::uint64_t>(factor) * target) {
      return {RateStep::Kind::kDecimate, factor};
    }
  }
  std::uint64_t up = target;
  while (up < rate) up *= 2;
  // A rate past 2^31 could double beyond 32 bits: saturate, so the interpolator refuses it.
  return {RateStep::Kind::kInterpolate,
          static_cast<std::uint32_t>(std::min<std::uint64_t>(up, UINT32_MAX))};
}

Result Resample(BufferSlot& slot, std::uint32_t target, const platform::StopWord& stop) {
  if (const Result checked = CheckResample(slot, target); checked != kOk) {
    slot.Clear();
    return checked;
  }
  for (;;) {
    const RateStep step = NextRateStep(slot.Get<AudioBuffer>()->sampleRate, target);
    if (step.kind == RateStep::Kind::kNone) return kOk;
    if (const Result stepped = RunRateStep(slot, step, stop); stepped != kOk) return stepped;
  }
}

Result ResampleToOutput(BufferSlot& slot, std::uint32_t target, bool clipGuard,
                        const OutputFormat& format, const std::function<void()>& beforeConversion,
                        const platform::StopWord& stop) {
  const Result result =
      RunResampleToOutput(slot, target, clipGuard, format, beforeConversion, stop);
  if (result != kOk) slot.Clear();
  return result;
}

}  // namespace lumaro::dsp
