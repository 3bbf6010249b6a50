#include "dsp/resample.h"

#include <algorithm>

#include "dsp/decimate.h"
#include "dsp/interpolate.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {
enum : Result {
  kErrNoBuffer = FirstCode(FailureSite::kResample),
  kErrSourceRate,
  kErrTargetRate,
  kErrNoFrames,
  kErrStep,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kResample,
    kErrStep,
    {"resample without a record", "resample source rate", "resample target rate",
     "resample without frames", "resample step"}};

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
  const AudioBuffer* buffer = slot.Get<AudioBuffer>();
  Result refused = kOk;
  if (buffer == nullptr) {
    refused = kErrNoBuffer;
  } else if (buffer->sampleRate < kMinSampleRate) {
    refused = kErrSourceRate;
  } else if (target < kMinSampleRate || target > kMaxResampleRate) {
    refused = kErrTargetRate;
  } else if (buffer->frameCount == 0) {
    refused = kErrNoFrames;
  }
  if (refused != kOk) {
    slot.Clear();
    return kFailures.Note(refused);
  }
  for (;;) {
    const RateStep step = NextRateStep(slot.Get<AudioBuffer>()->sampleRate, target);
    Result result = kOk;
    switch (step.kind) {
      case RateStep::Kind::kNone:
        return kOk;
      case RateStep::Kind::kDecimate:
        result = Decimate(slot, step.value, stop);
        break;
      case RateStep::Kind::kInterpolate:
        result = Interpolate(slot, step.value, stop);
        break;
    }
    if (result != kOk) return kFailures.Note(kErrStep);
  }
}

}  // namespace lumaro::dsp
