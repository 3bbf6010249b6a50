#include "dsp/resample.h"

#include <algorithm>
#include <array>

#include "dsp/clip_guard.h"
#include "dsp/decimate.h"
#include "dsp/float_to_output.h"
#include "dsp/interpolate.h"
#include "dsp/mirror_lead_in.h"
#include "dsp/parallel_for.h"
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
  BlockSource source;
  source.blockFrames = kLastStepBlockFrames;
  std::uint32_t rate = 0;
  if (step.kind == RateStep::Kind::kInterpolate) {
    if (PlanInterpolation(*in, step.value, plan) != kOk) return kFailures.Note(kErrStep);
    rate = step.value;
    source.frames = plan.frames;
    source.produce = [&](unsigned, std::uint64_t b, double* y, std::uint64_t count) {
      InterpolateFrames(*in, plan, b * kLastStepBlockFrames, count, y, stop);
    };
  } else {
    if (CheckDecimation(*in, step.value, &source.frames) != kOk) return kFailures.Note(kErrStep);
    rate = in->sampleRate / step.value;
    source.produce = [&](unsigned, std::uint64_t b, double* y, std::uint64_t count) {
      DecimateRange(*in, step.value, b * kLastStepBlockFrames, count, y, stop);
    };
  }
  MirrorLeadIn(*in);
  return BlocksToOutput(source, rate, clipGuard ? 1 : 0, format, beforeConversion, stop, slot);
}

// An interpolation to `up` followed by a decimation by `factor` to the target, as one last step
// in blocks: each worker interpolates the frames at `up` that a block's decimation reads into a
// block of its own (past the ends, the frames MirrorLeadIn would put there), so the track at
// `up` never exists whole. Every frame at `up` is the one the interpolation step makes, and
// every output frame the one the decimation step makes from them.
class InterpolationThenDecimation {
 public:
  InterpolationThenDecimation(const AudioBuffer& in, std::uint32_t factor,
                              const platform::StopWord& stop)
      : in_(in),
        factor_(factor),
        reach_(static_cast<std::int64_t>(DecimationHalfTaps(factor))),
        stop_(stop) {}

  // The plan of the interpolation to `up` (its failure, noted), and the output frames.
  // The frames at `up` are still claimed from the memory guard as the interpolation's record,
  // and the decimation checked as it checks that record, so that a track is refused, with the
  // same failures, exactly where the two steps one after the other refused it.
  Result Plan(std::uint32_t up, std::uint64_t* frames) {
    if (PlanInterpolation(in_, up, plan_) != kOk || InterpolationOutputAllowed(plan_) != kOk) {
      return kFailures.Note(kErrStep);
    }
    const AudioBuffer middle{up, plan_.frames, kResampledLeadIn};
    if (CheckDecimation(middle, factor_, frames) != kOk) return kFailures.Note(kErrStep);
    return kOk;
  }

  // A block at `up` per worker, with the decimation's reach on both sides.
  Result Prepare(unsigned workers) {
    for (unsigned w = 0; w < workers; ++w) {
      if (NewAudioBufferToOverwrite(middle_[w], plan_.target, factor_ * kLastStepBlockFrames,
                                    static_cast<std::uint64_t>(reach_)) != kOk) {
        return kFailures.Note(kErrStep);
      }
    }
    return kOk;
  }

  // Output frames of block `block` into `y`: frame j of the worker's block is frame
  // factor × block × kLastStepBlockFrames + j at `up`.
  void Produce(unsigned worker, std::uint64_t block, double* y, std::uint64_t count) const {
    AudioBuffer& middle = *middle_[worker];
    const auto total = static_cast<std::int64_t>(plan_.frames);
    const auto start = static_cast<std::int64_t>(factor_ * block * kLastStepBlockFrames);
    const std::int64_t from = start - reach_;
    const std::int64_t to = start + static_cast<std::int64_t>(factor_ * count) + reach_;
    const std::int64_t inside = std::max<std::int64_t>(from, 0);
    const std::int64_t end = std::min(to, total);
    InterpolateFrames(in_, plan_, static_cast<std::uint64_t>(inside),
                      static_cast<std::uint64_t>(end - inside), middle.Frame(inside - start),
                      stop_);
    const auto mirrored = [&](std::int64_t first, std::int64_t last) {
      for (std::int64_t frame = first; frame < last; ++frame) {
        InterpolateFrames(in_, plan_, MirroredFrame(frame, plan_.frames), 1,
                          middle.Frame(frame - start), stop_);
      }
    };
    mirrored(from, inside);
    mirrored(std::max(end, from), to);
    DecimateRange(middle, factor_, 0, count, y, stop_);
  }

 private:
  const AudioBuffer& in_;
  std::uint32_t factor_;
  std::int64_t reach_;  // frames the decimation reads on each side of a block
  const platform::StopWord& stop_;
  InterpolationPlan plan_;
  std::array<AudioBufferPtr, kMaxWorkerSlots> middle_;
};

// The interpolation to `up`, the decimation by `factor` that reaches the target, the clip guard
// and the output conversion, a block at a time. Takes the buffer out of the slot; on success puts
// the output record in.
Result ConvertLastTwoSteps(BufferSlot& slot, std::uint32_t up, std::uint32_t factor, bool clipGuard,
                           const OutputFormat& format,
                           const std::function<void()>& beforeConversion,
                           const platform::StopWord& stop) {
  const AudioBufferPtr in = slot.TakeAs<AudioBuffer>();
  InterpolationThenDecimation steps(*in, factor, stop);
  BlockSource source;
  source.blockFrames = kLastStepBlockFrames;
  if (const Result planned = steps.Plan(up, &source.frames); planned != kOk) return planned;
  source.prepare = [&](unsigned workers) { return steps.Prepare(workers); };
  source.produce = [&](unsigned worker, std::uint64_t b, double* y, std::uint64_t count) {
    steps.Produce(worker, b, y, count);
  };
  MirrorLeadIn(*in);
  return BlocksToOutput(source, up / factor, clipGuard ? 1 : 0, format, beforeConversion, stop,
                        slot);
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
    if (const RateStep next = NextRateStep(after, target);
        step.kind == RateStep::Kind::kInterpolate && next.kind == RateStep::Kind::kDecimate &&
        after / next.value == target) {
      return ConvertLastTwoSteps(slot, after, next.value, clipGuard, format, beforeConversion,
                                 stop);
    }
    if (const Result stepped = RunRateStep(slot, step, stop); stepped != kOk) return stepped;
  }
  // Equal rates: the two stages themselves, the conversion with the clip guard's peak.
  if (clipGuard) {
    double peak = 0.0;
    if (const Result guarded = ClipGuardTellingPeak(slot, stop, &peak); guarded != kOk) {
      return guarded;
    }
    beforeConversion();
    return FloatToOutputWithPeak(slot, format, peak, stop);
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
