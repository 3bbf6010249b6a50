#include "dsp/resample.h"

#include <algorithm>

#include "dsp/clip_guard.h"
#include "dsp/decimate.h"
#include "dsp/float_to_output.h"
#include "dsp/interpolate.h"
#include "dsp/mirror_lead_in.h"
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
};
constexpr platform::FailureNames kFailures{
    FailureSite::kResample,
    kErrOutputFormat,
    {"resample without a record", "resample source rate", "resample target rate",
     "resample without frames", "resample step", "resample-to-output width"}};

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

// Output frames per block of the last rate step written straight into the output record: a
// block per worker stays in the cache between the filter and the conversion.
constexpr std::uint64_t kLastStepBlockFrames = 0x10000;

// The last rate step with the clip guard and the output conversion, a block at a time. Takes the
// buffer out of the slot; on success puts the output record in.
Result ConvertLastStep(BufferSlot& slot, RateStep step, bool clipGuard, const OutputFormat& format,
                       const std::function<void()>& beforeConversion,
                       const platform::StopWord& stop) {
  const AudioBufferPtr in = slot.TakeAs<AudioBuffer>();
  InterpolationPlan plan;
  BlockSource source{0, kLastStepBlockFrames, {}};
  std::uint32_t rate = 0;
  if (step.kind == RateStep::Kind::kInterpolate) {
    if (PlanInterpolation(*in, step.value, plan) != kOk) return kFailures.Note(kErrStep);
    rate = step.value;
    source.frames = plan.frames;
    source.produce = [&](std::uint64_t b, double* y, std::uint64_t count) {
      InterpolateFrames(*in, plan, b * kLastStepBlockFrames, count, y, stop);
    };
  } else {
    if (CheckDecimation(*in, step.value, &source.frames) != kOk) return kFailures.Note(kErrStep);
    rate = in->sampleRate / step.value;
    source.produce = [&](std::uint64_t b, double* y, std::uint64_t count) {
      DecimateRange(*in, step.value, b * kLastStepBlockFrames, count, y, stop);
    };
  }
  MirrorLeadIn(*in);
  return BlocksToOutput(source, rate, clipGuard ? 1 : 0, format, beforeConversion, stop, slot);
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
    const std::uint32_t after =
        step.kind == RateStep::Kind::kDecimate ? rate / step.value : step.value;
    if (after == target) {
      return ConvertLastStep(slot, step, clipGuard, format, beforeConversion, stop);
    }
    if (const Result stepped = RunRateStep(slot, step, stop); stepped != kOk) return stepped;
  }
  // Equal rates: the two stages themselves.
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
