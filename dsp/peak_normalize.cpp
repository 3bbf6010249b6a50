#include "dsp/peak_normalize.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/clip_guard.h"
#include "dsp/parallel_for.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result { kErrNoBuffer = FirstCode(FailureSite::kPeakNormalize), kErrEmptyBuffer };
constexpr platform::FailureNames kFailures{
    FailureSite::kPeakNormalize,
    kErrEmptyBuffer,
    {"peak-normalize without a record", "peak-normalize empty record"}};

// Divides real frames [first, first + count) by `peak` and multiplies them by `level`, polling
// `stop` like ScaleFrames: for a peak so small that level / peak is not a finite gain.
void DivideFrames(AudioBuffer& buffer, Slice slice, double peak, double level,
                  const platform::StopWord& stop) {
  double* samples = buffer.Frame(static_cast<std::int64_t>(slice.first));
  for (std::uint64_t done = 0; done < slice.count; done += kStopPollFrames) {
    if (stop.Load() != 0) break;
    const std::uint64_t end = 2 * std::min(slice.count, done + kStopPollFrames);
    for (std::uint64_t i = 2 * done; i < end; ++i) samples[i] = samples[i] / peak * level;
  }
}

// Step 1: measures the peak of the track and scales it to the target.
Result MeasureAndScale(AudioBuffer& track, std::uint32_t target, const platform::StopWord& stop) {
  if (track.frameCount == 0) return kFailures.Note(kErrEmptyBuffer);

  std::array<double, kMaxWorkerSlots> peaks{};
  Result result = ParallelFor(track.frameCount, stop, [&](unsigned worker, Slice slice) {
    peaks[worker] = PeakOfFrames(track, slice.first, slice.count, stop);
  });
  if (result != kOk) return result;
  const double peak = *std::max_element(peaks.begin(), peaks.end());
  if (!(peak > 0.0)) return kOk;

  const double level = target / 100.0;
  const double gain = level / peak;
  if (std::isfinite(gain)) {
    return ParallelFor(track.frameCount, stop, [&](unsigned, Slice slice) {
      ScaleFrames(track, slice.first, slice.count, gain, stop);
    });
  }
  return ParallelFor(track.frameCount, stop,
                     [&](unsigned, Slice slice) { DivideFrames(track, slice, peak, level, stop); });
}

}  // namespace

// Step 0: takes the track out of the slot and puts it back only on success.
Result PeakNormalize(BufferSlot& slot, std::uint32_t target, const platform::StopWord& stop) {
  AudioBufferPtr track = slot.TakeAs<AudioBuffer>();
  if (!track) return kFailures.Note(kErrNoBuffer);
  const Result result = MeasureAndScale(*track, target, stop);
  if (result == kOk) slot.Put(std::move(track));
  return result;
}

}  // namespace lumaro::dsp
