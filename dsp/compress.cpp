#include "dsp/compress.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "dsp/clip_guard.h"
#include "dsp/level_sum.h"
#include "dsp/mirror_lead_in.h"
#include "dsp/parallel_for.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNoBuffer = FirstCode(FailureSite::kCompress),
  kErrRate,
  kErrEmptyBuffer,
  kErrThreshold,
  kErrDownward,
  kErrUpward,
  kErrMaxAmplification,
  kErrCellSize,
  kErrTimeLagBalance,
  kErrCopy,
  kErrCopyGuard,
  kErrOutputGuard,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kCompress,
    kErrOutputGuard,
    {"compress without a record", "compress rate", "compress empty record", "compress threshold",
     "compress downward", "compress upward", "compress max amplification", "compress cell size",
     "compress time-lag balance", "compress copy", "compress copy clip-guard",
     "compress output clip-guard"}};

constexpr std::uint32_t kMaxRate = 0x3FFFFFFF;
constexpr std::uint64_t kMinWindow = 48;
constexpr double kTwoPow62 = 4611686018427387904.0;
// Frames copied between two peak measurements: a run stays in the cache.
constexpr std::uint64_t kCopyRunFrames = 4096;

// The range each parameter must lie in, and the failure that reports it.
struct Range {
  std::uint32_t CompressParameters::*field;
  AssistLimits limits;
  Result failure;
};
constexpr std::array<Range, 6> kRanges{{
    {&CompressParameters::threshold, kCompThresholdLimits, kErrThreshold},
    {&CompressParameters::downward, kCompDownwardLimits, kErrDownward},
    {&CompressParameters::upward, kCompUpwardLimits, kErrUpward},
    {&CompressParameters::maxAmplification, kCompMaxAmplificationLimits, kErrMaxAmplification},
    {&CompressParameters::cellSize, kCompCellSizeLimits, kErrCellSize},
    {&CompressParameters::timeLagBalance, kCompTimeLagBalanceLimits, kErrTimeLagBalance},
}};

// Mean absolute value: each channel's |x| as an integer of 2^31 per full scale. After the clip
// guard a term is at most 2^31 (plus rounding), so a 64-bit sum holds any window shorter than
// 2^32 frames; longer windows (a rate near the top of the range) sum in 128 bits.
template <class Sum>
struct ArvLevel {
  double windowSamples;  // 2 × (M + 1)

  static Sum Term(const double* frame) noexcept {
    return Sum{TruncateToU64(std::fabs(frame[0]) * kTwoPow31)} +
           TruncateToU64(std::fabs(frame[1]) * kTwoPow31);
  }
  double Level(Sum sum) const noexcept {
    return ToDouble(static_cast<Sum128>(sum)) * kTwoPowMinus31 / windowSamples;
  }
};

// Root mean square: each channel's x² as an integer of 2^62 per full scale, a 128-bit sum, and
// an integer mean (at most 2^63, so it fits in 64 bits) whose square root is the level.
struct RmsLevel {
  using Sum = Sum128;
  Sum128 windowSamples;  // 2 × (M + 1)

  static Sum Term(const double* frame) noexcept {
    return Sum{TruncateToU64(frame[0] * frame[0] * kTwoPow62)} +
           TruncateToU64(frame[1] * frame[1] * kTwoPow62);
  }
  double Level(Sum sum) const noexcept {
    const std::uint64_t mean = DivideToU64(sum, windowSamples);
    return std::sqrt(static_cast<double>(mean)) * kTwoPowMinus31;
  }
};

// One worker: output frames [first, first + count) of `out` from the padded copy `in`. The
// window sum starts with the first M frames of the first window; then per frame the window's
// last frame enters, the frame is written, and the window's first frame leaves.
// Answers the peak of the frames it wrote, for the clip guard that follows.
template <class Measure, class Sum>
double CompressSlice(const Measure& measure, const CompressGainRule& rule, CompressWindow window,
                     const AudioBuffer& in, AudioBuffer& out, Slice slice,
                     const platform::StopWord& stop) {
  double peak = 0.0;
  if (stop.Load() != 0) return peak;
  const auto first = static_cast<std::int64_t>(slice.first);
  const auto offset = static_cast<std::int64_t>(window.offset);
  const auto length = static_cast<std::int64_t>(window.length);
  const double* leaving = in.Frame(first - offset);
  const double* entering = in.Frame(first - offset + length);
  const double* source = in.Frame(first);
  double* target = out.Frame(first);

  Sum sum{0};
  for (std::int64_t j = 0; j < length; ++j) sum += Measure::Term(leaving + 2 * j);

  for (std::uint64_t done = 0; done < slice.count; done += kStopPollFrames) {
    if (stop.Load() != 0) return peak;
    const std::uint64_t end = std::min(slice.count, done + kStopPollFrames);
    for (std::uint64_t k = 2 * done; k < 2 * end; k += 2) {
      sum += Measure::Term(entering + k);
      const double gain = rule.GainFor(measure.Level(sum));
      if (gain == 0.0) {
        target[k] = 0.0;
        target[k + 1] = 0.0;
      } else {
        target[k] = gain * source[k];
        target[k + 1] = gain * source[k + 1];
      }
      sum -= Measure::Term(leaving + k);
    }
    peak = std::max(peak, PeakOfSamples(target + 2 * done, end - done, stop));
  }
  return peak;
}

// Step 2: clip-guards and mirrors the copy, writes the compressed frames into the track and
// clip-guards the result.
Result RunCompressPasses(BufferSlot& copySlot, double copyPeak, BufferSlot& trackSlot,
                         const CompressParameters& parameters, CompressWindow window,
                         const platform::StopWord& stop) {
  AudioBuffer& copy = *copySlot.Get<AudioBuffer>();
  if (ClipGuardWithPeak(copy, copyPeak, stop) != kOk) return kFailures.Note(kErrCopyGuard);
  AudioBuffer& track = *trackSlot.Get<AudioBuffer>();
  MirrorLeadIn(copy);

  const CompressGainRule rule = CompressGainRule::From(parameters);
  const Sum128 windowSamples = 2 * (static_cast<Sum128>(window.length) + 1);
  std::array<double, kMaxWorkerSlots> peaks{};
  WorkerBody body;
  if (parameters.loudnessType != kLoudnessTypeArv) {
    body = [&, measure = RmsLevel{windowSamples}](unsigned worker, Slice slice) {
      peaks[worker] =
          CompressSlice<RmsLevel, Sum128>(measure, rule, window, copy, track, slice, stop);
    };
  } else if (window.length + 1 < (std::uint64_t{1} << 32)) {
    body = [&, measure = ArvLevel<std::uint64_t>{ToDouble(windowSamples)}](unsigned worker,
                                                                           Slice s) {
      peaks[worker] = CompressSlice<ArvLevel<std::uint64_t>, std::uint64_t>(measure, rule, window,
                                                                            copy, track, s, stop);
    };
  } else {
    body = [&, measure = ArvLevel<Sum128>{ToDouble(windowSamples)}](unsigned worker, Slice s) {
      peaks[worker] =
          CompressSlice<ArvLevel<Sum128>, Sum128>(measure, rule, window, copy, track, s, stop);
    };
  }
  if (const Result result = ParallelFor(track.frameCount, stop, body); result != kOk) {
    return result;
  }
  if (ClipGuardWithPeak(track, *std::max_element(peaks.begin(), peaks.end()), stop) != kOk) {
    return kFailures.Note(kErrOutputGuard);
  }
  return kOk;
}

// Step 1: checks the track and the parameters and makes the padded copy of the track.
Result CompressWithCopy(BufferSlot& trackSlot, const CompressParameters& parameters,
                        const platform::StopWord& stop) {
  const AudioBuffer& track = *trackSlot.Get<AudioBuffer>();
  if (track.sampleRate < kMinSampleRate || track.sampleRate > kMaxRate)
    return kFailures.Note(kErrRate);
  if (track.frameCount == 0) return kFailures.Note(kErrEmptyBuffer);
  for (const Range& range : kRanges) {
    const std::uint32_t value = parameters.*range.field;
    if (value < range.limits.min || value > range.limits.max) return kFailures.Note(range.failure);
  }
  const CompressWindow window =
      CompressWindowFor(track.sampleRate, parameters.cellSize, parameters.timeLagBalance);

  AudioBufferPtr copy;
  if (NewAudioBufferToOverwrite(copy, track.sampleRate, track.frameCount, window.length) != kOk) {
    return kFailures.Note(kErrCopy);
  }
  // The copy's clip guard takes the peak measured while copying, a run at a time in the cache.
  double peak = 0.0;
  for (std::uint64_t done = 0; done < track.frameCount; done += kCopyRunFrames) {
    const std::uint64_t run = std::min(kCopyRunFrames, track.frameCount - done);
    const auto first = static_cast<std::int64_t>(done);
    std::memcpy(copy->Frame(first), track.Frame(first), run * kAudioFrameBytes);
    peak = std::max(peak, PeakOfSamples(copy->Frame(first), run, stop));
  }
  BufferSlot copySlot;
  copySlot.Put(std::move(copy));
  return RunCompressPasses(copySlot, peak, trackSlot, parameters, window, stop);
}

}  // namespace

CompressWindow CompressWindowFor(std::uint32_t sampleRate, std::uint32_t cellSize,
                                 std::uint32_t timeLagBalance) noexcept {
  CompressWindow window;
  window.length = std::max<std::uint64_t>(std::uint64_t{sampleRate} * cellSize / 1000, kMinWindow);
  window.offset = (100 - std::uint64_t{timeLagBalance}) * window.length / 100;
  return window;
}

CompressGainRule CompressGainRule::From(const CompressParameters& p) noexcept {
  return {p.threshold / 1000.0, p.downward / 100.0, p.upward / 100.0, p.maxAmplification / 100.0};
}

double CompressGainRule::GainFor(double level) const noexcept {
  if (level <= 0.0) return 0.0;
  const double excess = threshold / level - 1.0;
  const double gain = 1.0 + (level > threshold ? downward : upward) * excess;
  if (gain < 0.0) return 0.0;
  return std::min(maxGain, gain);
}

// Step 0: takes the track out of the slot and puts it back only when every pass succeeded.
Result Compress(BufferSlot& slot, const CompressParameters& parameters,
                const platform::StopWord& stop) {
  BufferSlot trackSlot;
  trackSlot.Put(slot.TakeAs<AudioBuffer>());
  if (trackSlot.Empty()) return kFailures.Note(kErrNoBuffer);
  const Result result = CompressWithCopy(trackSlot, parameters, stop);
  if (result == kOk) slot.Put(trackSlot.Take());
  return result;
}

}  // namespace lumaro::dsp
