#include "dsp/compress.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/clip_guard.h"
#include "dsp/level_sum.h"
#include "dsp/mirror_lead_in.h"
#include "dsp/parallel_for.h"
#include "dsp/record_ptr.h"
#include "dsp/vector_unit.h"
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
  kErrPassMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kCompress,
    kErrPassMemory,
    {"compress without a record", "compress rate", "compress empty record", "compress threshold",
     "compress downward", "compress upward", "compress max amplification", "compress cell size",
     "compress time-lag balance", "compress copy", "compress copy clip-guard",
     "compress output clip-guard", "compress pass memory"}};

constexpr std::uint32_t kMaxRate = 0x3FFFFFFF;
constexpr std::uint64_t kMinWindow = 48;
constexpr double kTwoPow62 = 4611686018427387904.0;

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

// The track before the pass as one slice sees it. The stage writes its output over the frames it
// reads, so a slice takes its own frames from the track (each is read before it is overwritten)
// and every other frame its windows reach from the edges saved before the pass: the `offset`
// frames before its first frame and the `length - offset` frames after its last, mirrored past
// the track's ends as a padded copy with a lead-in of M holds them. A frame's term is kept from
// when it joins the window at its front until it leaves at its back, so no frame is read again.
struct SliceSource {
  std::int64_t first;  // the slice's frames are [first, end)
  std::int64_t end;
  const double* before;  // frames [first - offset, first)
  const double* after;   // frames [end, end + length - offset)
};

// Frames [frame, frame + count) of the window's front, all at or past the first frame not yet
// written: from the track while in the slice, then from the saved edges.
struct Run {
  const double* frames;
  std::uint64_t count;
};
Run FrontRun(const SliceSource& source, const AudioBuffer& track, std::int64_t frame,
             std::uint64_t count) noexcept {
  if (frame < source.end) {
    return {track.Frame(frame), std::min(count, static_cast<std::uint64_t>(source.end - frame))};
  }
  return {source.after + 2 * (frame - source.end), count};
}

// Copies the track's frames [frame, frame + count), mirrored past its ends, into `to`.
void CopyMirrored(const AudioBuffer& track, std::int64_t frame, std::uint64_t count, double* to) {
  for (std::uint64_t k = 0; k < count; ++k, to += 2) {
    const double* from = track.Frame(static_cast<std::int64_t>(
        MirroredFrame(frame + static_cast<std::int64_t>(k), track.frameCount)));
    to[0] = from[0];
    to[1] = from[1];
  }
}

// `count` output frames at `frames`, written over them. Per frame the window's front frame
// (`entering`) joins the sum and its term takes the place in `terms` of the window's back frame,
// whose term leaves the sum once the frame is written.
template <class Measure, class Sum>
void CompressRun(const Measure& measure, const CompressGainRule& rule, const double* entering,
                 Sum* terms, double* frames, std::uint64_t count, Sum& sum) noexcept {
  for (std::uint64_t k = 0; k < count; ++k) {
    PrefetchAhead(entering + 2 * k, kAudioFrameBytes);
    PrefetchAhead(frames + 2 * k, kAudioFrameBytes);
    const Sum joining = Measure::Term(entering + 2 * k);
    const Sum leaving = terms[k];
    terms[k] = joining;
    sum += joining;
    const double gain = rule.GainFor(measure.Level(sum));
    frames[2 * k] = gain == 0.0 ? 0.0 : gain * frames[2 * k];
    frames[2 * k + 1] = gain == 0.0 ? 0.0 : gain * frames[2 * k + 1];
    sum -= leaving;
  }
}

// One worker: output frames [first, end) written over the same frames of the track. `terms`
// holds the terms of the window's M frames, the window's back frame's at (f - first) mod M for
// frame f. The window sum starts with the first window's terms; the frames then go in runs over
// which the window's front is contiguous (in the track or the saved edge) and its back does not
// wrap, at most kStopPollFrames frames. Answers the peak of the frames it wrote, for the clip
// guard that follows.
template <class Measure, class Sum>
double CompressSlice(const Measure& measure, const CompressGainRule& rule, CompressWindow window,
                     const SliceSource& source, Sum* terms, AudioBuffer& track,
                     const platform::StopWord& stop) {
  double peak = 0.0;
  if (stop.Load() != 0) return peak;
  const auto offset = static_cast<std::int64_t>(window.offset);
  const std::uint64_t length = window.length;

  Sum sum{0};
  std::uint64_t j = 0;
  for (; j < window.offset; ++j) sum += terms[j] = Measure::Term(source.before + 2 * j);
  for (std::int64_t frame = source.first; j < length;) {
    const Run run = FrontRun(source, track, frame, length - j);
    for (std::uint64_t k = 0; k < run.count; ++k, ++j) {
      sum += terms[j] = Measure::Term(run.frames + 2 * k);
    }
    frame += static_cast<std::int64_t>(run.count);
  }

  std::uint64_t slot = 0;  // (f - first) mod M
  for (std::int64_t f = source.first; f < source.end;) {
    if (stop.Load() != 0) return peak;
    const std::uint64_t count =
        std::min({kStopPollFrames, static_cast<std::uint64_t>(source.end - f), length - slot});
    const Run front =
        FrontRun(source, track, f - offset + static_cast<std::int64_t>(length), count);
    double* frames = track.Frame(f);
    CompressRun<Measure, Sum>(measure, rule, front.frames, terms + slot, frames, front.count, sum);
    peak = std::max(peak, PeakOfSamples(frames, front.count, stop));
    f += static_cast<std::int64_t>(front.count);
    slot += front.count;
    if (slot == length) slot = 0;
  }
  return peak;
}

// The working memory of the pass, one block: per worker its terms (M of at most 128 bits) and
// its saved edges (M frames).
struct PassMemory {
  unsigned workers;
  CompressWindow window;
  RecordPtr<double> block;

  static constexpr std::uint64_t kTermSamples = sizeof(Sum128) / sizeof(double);
  std::uint64_t WorkerSamples() const noexcept { return (kTermSamples + 2) * window.length; }
  template <class Sum>
  Sum* Terms(unsigned worker) const noexcept {
    static_assert(sizeof(Sum) <= sizeof(Sum128));
    return reinterpret_cast<Sum*>(block.get() + worker * WorkerSamples());
  }
  // Frames [first - offset, first), then [end, end + length - offset).
  double* Edges(unsigned worker) const noexcept {
    return block.get() + worker * WorkerSamples() + kTermSamples * window.length;
  }
};

// Workers and their memory, within the padded copy's N + 2M frames: a worker takes its terms and
// its saved edges (two windows' worth), so there are at most (N + 2M) / 3M workers, each with a
// slice of at least M frames (one for a track shorter than its window).
Result PlanPass(const AudioBuffer& track, CompressWindow window, PassMemory* pass) {
  const std::uint64_t m = window.length;
  const std::uint64_t copyFrames = track.frameCount + 2 * m;  // below 2^60: the copy was allowed
  pass->workers = static_cast<unsigned>(std::clamp<std::uint64_t>(
      std::min<std::uint64_t>(WorkerCount(), copyFrames / (3 * m)), 1, kMaxWorkerSlots));
  pass->window = window;
  const std::uint64_t bytes = pass->workers * pass->WorkerSamples() * sizeof(double);
  pass->block.reset(static_cast<double*>(GuardedAlloc(bytes)));
  return pass->block ? kOk : kFailures.Note(kErrPassMemory);
}

// Step 2: clip-guards the track, then writes the compressed frames over it and clip-guards the
// result.
Result RunCompressPasses(BufferSlot& trackSlot, const CompressParameters& parameters,
                         CompressWindow window, const platform::StopWord& stop) {
  if (ClipGuard(trackSlot, stop) != kOk) return kFailures.Note(kErrCopyGuard);
  AudioBuffer& track = *trackSlot.Get<AudioBuffer>();
  PassMemory pass{};
  if (const Result planned = PlanPass(track, window, &pass); planned != kOk) return planned;

  // Every slice's edges are saved before any worker writes.
  const SlicePlan plan = PlanSlices(track.frameCount, pass.workers);
  const auto offset = static_cast<std::int64_t>(window.offset);
  std::array<SliceSource, kMaxWorkerSlots> sources{};
  for (unsigned w = 0; w < plan.count; ++w) {
    double* before = pass.Edges(w);
    double* after = before + 2 * window.offset;
    const auto first = static_cast<std::int64_t>(plan.slices[w].first);
    const auto end = first + static_cast<std::int64_t>(plan.slices[w].count);
    CopyMirrored(track, first - offset, window.offset, before);
    CopyMirrored(track, end, window.length - window.offset, after);
    sources[w] = {first, end, before, after};
  }

  const CompressGainRule rule = CompressGainRule::From(parameters);
  const Sum128 windowSamples = 2 * (static_cast<Sum128>(window.length) + 1);
  std::array<double, kMaxWorkerSlots> peaks{};
  WorkerBody body;
  if (parameters.loudnessType != kLoudnessTypeArv) {
    body = [&, measure = RmsLevel{windowSamples}](unsigned worker, Slice) {
      peaks[worker] = CompressSlice<RmsLevel, Sum128>(measure, rule, window, sources[worker],
                                                      pass.Terms<Sum128>(worker), track, stop);
    };
  } else if (window.length + 1 < (std::uint64_t{1} << 32)) {
    body = [&, measure = ArvLevel<std::uint64_t>{ToDouble(windowSamples)}](unsigned worker, Slice) {
      peaks[worker] = CompressSlice<ArvLevel<std::uint64_t>, std::uint64_t>(
          measure, rule, window, sources[worker], pass.Terms<std::uint64_t>(worker), track, stop);
    };
  } else {
    body = [&, measure = ArvLevel<Sum128>{ToDouble(windowSamples)}](unsigned worker, Slice) {
      peaks[worker] = CompressSlice<ArvLevel<Sum128>, Sum128>(
          measure, rule, window, sources[worker], pass.Terms<Sum128>(worker), track, stop);
    };
  }
  if (const Result result = ParallelForOn(track.frameCount, pass.workers, stop, body);
      result != kOk) {
    return result;
  }
  if (ClipGuardWithPeak(track, *std::max_element(peaks.begin(), peaks.end()), stop) != kOk) {
    return kFailures.Note(kErrOutputGuard);
  }
  return kOk;
}

// Step 1: checks the track and the parameters. The output is written over the track, with no
// padded copy of it, in at most the copy's memory; the copy is still asked of the memory guard
// (with its failures noted as its allocation notes them), so that a track which would leave the
// system short of memory is refused as it always was.
Result CompressInPlace(BufferSlot& trackSlot, const CompressParameters& parameters,
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
  if (AudioBufferAllowed(track.sampleRate, track.frameCount, window.length) != kOk) {
    return kFailures.Note(kErrCopy);
  }
  return RunCompressPasses(trackSlot, parameters, window, stop);
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
  const Result result = CompressInPlace(trackSlot, parameters, stop);
  if (result == kOk) slot.Put(trackSlot.Take());
  return result;
}

}  // namespace lumaro::dsp
