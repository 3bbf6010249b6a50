#include "dsp/interpolate.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "dsp/clip_guard.h"
#include "dsp/cubic_kernel.h"
#include "dsp/guarded_alloc.h"
#include "dsp/mirror_lead_in.h"
#include "dsp/parallel_for.h"
#include "dsp/stereo_pair.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNoBuffer = FirstCode(FailureSite::kInterpolate),
  kErrSourceRate,
  kErrEmptySource,
  kErrTargetRate,
  kErrLeadIn,
  kErrFrameCount,
  kErrOutput,
  kErrPhaseTable,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kInterpolate,
    kErrPhaseTable,
    {"interpolate without a record", "interpolate source rate", "interpolate empty source",
     "interpolate target rate", "interpolate lead-in", "interpolate frame count",
     "interpolate output", "interpolate phase table"}};

// `count` output frames into `y` from input frame `p` at `phase`: per frame the weighted sum
// ((w0·x[p−1] + w1·x[p]) + w2·x[p+1]) + w3·x[p+2] in each channel.
void InterpolateSlice(const AudioBuffer& in, const InterpolationPhase* phases,
                      std::uint64_t phaseCount, std::uint64_t p, std::uint64_t phase, double* y,
                      std::uint64_t count, const platform::StopWord& stop) {
  const double* x = in.Frame(static_cast<std::int64_t>(p) - 1);
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) return;
    const std::uint64_t end = std::min(count, done + kStopPollFrames);
    for (std::uint64_t f = done; f < end; ++f) {
      const InterpolationPhase& ph = phases[phase];
      const StereoPair sum = StereoPair::Splat(ph.w[0]) * StereoPair::Load(x) +
                             StereoPair::Splat(ph.w[1]) * StereoPair::Load(x + 2) +
                             StereoPair::Splat(ph.w[2]) * StereoPair::Load(x + 4) +
                             StereoPair::Splat(ph.w[3]) * StereoPair::Load(x + 6);
      sum.Store(y + 2 * f);
      x += 2 * ph.advance;
      if (++phase == phaseCount) phase = 0;
    }
  }
}

}  // namespace

std::uint64_t InterpolationPhases(std::uint32_t source, std::uint32_t target) noexcept {
  if (source == 0 || target == 0) return 0;
  return target / std::gcd(source, target);
}

std::uint64_t InterpolatedFrames(std::uint64_t frames, std::uint32_t source,
                                 std::uint32_t target) noexcept {
  if (source == 0) return 0;
  const Size128 n = static_cast<Size128>(frames) * target / source;
  return n > kMaxBlock63 ? 0 : static_cast<std::uint64_t>(n);
}

Result PlanInterpolation(const AudioBuffer& in, std::uint32_t target, InterpolationPlan& plan) {
  const std::uint32_t source = in.sampleRate;
  if (source < kMinSampleRate) return kFailures.Note(kErrSourceRate);
  if (in.frameCount == 0) return kFailures.Note(kErrEmptySource);
  if (target < kMinSampleRate || target > kMaxInterpolateRate)
    return kFailures.Note(kErrTargetRate);
  if (in.leadIn < kInterpolateLeadIn) return kFailures.Note(kErrLeadIn);
  plan.source = source;
  plan.target = target;
  plan.frames = InterpolatedFrames(in.frameCount, source, target);
  if (plan.frames == 0) return kFailures.Note(kErrFrameCount);

  // Phase j lies at (j × source mod target) / target past its input frame; the whole table
  // repeats after L frames, as L × source is a multiple of target.
  plan.phaseCount = InterpolationPhases(source, target);
  plan.phases.reset(
      static_cast<InterpolationPhase*>(GuardedAlloc(plan.phaseCount * sizeof(InterpolationPhase))));
  if (!plan.phases) return kFailures.Note(kErrPhaseTable);
  std::uint64_t a = 0;
  for (std::uint64_t j = 0; j < plan.phaseCount; ++j) {
    const auto w = CubicWeights(static_cast<double>(a) / target);
    std::copy(w.begin(), w.end(), plan.phases.get()[j].w);
    a += source;
    plan.phases.get()[j].advance = a / target;
    a %= target;
  }
  return kOk;
}

Result InterpolationOutputAllowed(const InterpolationPlan& plan) noexcept {
  if (AudioBufferAllowed(plan.target, plan.frames, kResampledLeadIn) != kOk) {
    return kFailures.Note(kErrOutput);
  }
  return kOk;
}

void InterpolateFrames(const AudioBuffer& in, const InterpolationPlan& plan, std::uint64_t first,
                       std::uint64_t count, double* y, const platform::StopWord& stop) {
  if (first >= plan.frames) return;
  count = std::min(count, plan.frames - first);
  // Within a second the input position has moved by ⌊f × source / target⌋ frames after f frames
  // and the phases repeat every phaseCount frames; each second starts afresh at phase 0.
  const std::uint64_t second = first / plan.target;
  const std::uint64_t f = first % plan.target;
  const std::uint64_t p = second * plan.source + f * plan.source / plan.target;
  InterpolateSlice(in, plan.phases.get(), plan.phaseCount, p, f % plan.phaseCount, y, count, stop);
}

double InterpolationPeakBound(const AudioBuffer& in, const InterpolationPlan& plan,
                              const platform::StopWord& stop) {
  // Four products and three sums each round by at most a factor 1 + 2^-53.
  constexpr double kRoundingRoom = 1.0 + 1e-12;
  double weights = 0.0;
  for (std::uint64_t j = 0; j < plan.phaseCount; ++j) {
    const double* w = plan.phases.get()[j].w;
    weights =
        std::max(weights, std::fabs(w[0]) + std::fabs(w[1]) + std::fabs(w[2]) + std::fabs(w[3]));
  }
  return PeakOfFrames(in, 0, in.frameCount, stop) * weights * kRoundingRoom;
}

Result Interpolate(BufferSlot& slot, std::uint32_t target, const platform::StopWord& stop) {
  AudioBufferPtr in = slot.TakeAs<AudioBuffer>();
  if (!in) return kFailures.Note(kErrNoBuffer);
  InterpolationPlan plan;
  if (const Result planned = PlanInterpolation(*in, target, plan); planned != kOk) return planned;
  AudioBufferPtr out;
  if (NewAudioBufferToOverwrite(out, target, plan.frames, kResampledLeadIn) != kOk)
    return kFailures.Note(kErrOutput);

  MirrorLeadIn(*in);
  // Whole seconds of output per worker: slice i of the seconds starts at output frame
  // i × q × target and input frame i × q × source, both at phase 0.
  const Result result = ParallelFor(plan.Seconds(), stop, [&](unsigned, Slice slice) {
    InterpolateFrames(*in, plan, slice.first * target, slice.count * target,
                      out->Frame(static_cast<std::int64_t>(slice.first * target)), stop);
  });
  if (result != kOk) return result;
  slot.Put(std::move(out));
  return kOk;
}

}  // namespace lumaro::dsp
