#include "dsp/loudness_normalize.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/clip_guard.h"
#include "dsp/level_sum.h"
#include "dsp/parallel_for.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNoBuffer = FirstCode(FailureSite::kLoudnessNormalize),
  kErrEmptyBuffer,
  kErrLevel
};
constexpr platform::FailureNames kFailures{
    FailureSite::kLoudnessNormalize,
    kErrLevel,
    {"loudness-normalize without a record", "loudness-normalize empty record",
     "loudness-normalize level"}};

// The sum of the ARV or RMS terms of both channels over real frames [first, first + count),
// polling `stop` between blocks (a partial sum when it is set; the caller then fails).
template <bool kRms>
Sum128 SumOfTerms(const AudioBuffer& buffer, Slice slice, const platform::StopWord& stop) {
  Sum128 total = 0;
  const double* samples = buffer.Frame(static_cast<std::int64_t>(slice.first));
  for (std::uint64_t done = 0; done < slice.count; done += kStopPollFrames) {
    if (stop.Load() != 0) break;
    const std::uint64_t end = 2 * std::min(slice.count, done + kStopPollFrames);
    for (std::uint64_t i = 2 * done; i < end; ++i) {
      const double x = samples[i];
      total += TruncateToU64((kRms ? x * x : std::fabs(x)) * kTwoPow31);
    }
  }
  return total;
}

// Step 1: measures the track in the slot and scales it to the target.
Result MeasureAndScale(AudioBuffer& track, std::uint32_t level, std::uint32_t loudnessType,
                       const platform::StopWord& stop) {
  if (track.frameCount == 0) return kFailures.Note(kErrEmptyBuffer);
  if (level < kLoudnessTargetLimits.min || level > kLoudnessTargetLimits.max)
    return kFailures.Note(kErrLevel);

  const bool rms = loudnessType != kLoudnessTypeArv;
  std::array<Sum128, kMaxWorkerSlots> sums{};
  Result result = ParallelFor(track.frameCount, stop, [&](unsigned worker, Slice slice) {
    sums[worker] =
        rms ? SumOfTerms<true>(track, slice, stop) : SumOfTerms<false>(track, slice, stop);
  });
  if (result != kOk) return result;

  Sum128 total = 0;
  for (const Sum128 sum : sums) total += sum;
  const double mean = ToDouble(total / track.frameCount) * kTwoPowMinus31;
  const double measured = rms ? std::sqrt(mean) : mean;
  if (measured == 0.0) return kOk;

  const double gain = (level / 1000.0) / measured;
  return ParallelFor(track.frameCount, stop, [&](unsigned, Slice slice) {
    ScaleFrames(track, slice.first, slice.count, gain, stop);
  });
}

}  // namespace

// Step 0: takes the track out of the slot and puts it back only on success.
Result LoudnessNormalize(BufferSlot& slot, std::uint32_t level, std::uint32_t loudnessType,
                         const platform::StopWord& stop) {
  AudioBufferPtr track = slot.TakeAs<AudioBuffer>();
  if (!track) return kFailures.Note(kErrNoBuffer);
  const Result result = MeasureAndScale(*track, level, loudnessType, stop);
  if (result == kOk) slot.Put(std::move(track));
  return result;
}

}  // namespace lumaro::dsp
