#include "dsp/clip_guard.h"

#include <algorithm>
#include <cmath>

#include "dsp/parallel_for.h"
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

double PeakOfFrames(const AudioBuffer& buffer, std::uint64_t first, std::uint64_t count,
                    const platform::StopWord& stop) {
  double peak = 0.0;
  const double* samples = buffer.Frame(static_cast<std::int64_t>(first));
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) break;
    const std::uint64_t end = 2 * std::min(count, done + kStopPollFrames);
    for (std::uint64_t i = 2 * done; i < end; ++i) {
      peak = std::max(peak, std::fabs(samples[i]));
    }
  }
  return peak;
}

void ScaleFrames(AudioBuffer& buffer, std::uint64_t first, std::uint64_t count, double gain,
                 const platform::StopWord& stop) {
  double* samples = buffer.Frame(static_cast<std::int64_t>(first));
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) break;
    const std::uint64_t end = 2 * std::min(count, done + kStopPollFrames);
    for (std::uint64_t i = 2 * done; i < end; ++i) {
      samples[i] *= gain;
    }
  }
}

Result ClipGuard(BufferSlot& slot, const platform::StopWord& stop) {
  AudioBuffer* buffer = slot.Get<AudioBuffer>();
  if (buffer == nullptr) return kFailures.Note(kErrNoBuffer);
  if (buffer->frameCount == 0) return kFailures.Note(kErrEmptyBuffer);

  std::array<double, kMaxWorkerSlots> peaks{};
  Result result = ParallelFor(buffer->frameCount, stop, [&](unsigned worker, Slice slice) {
    peaks[worker] = PeakOfFrames(*buffer, slice.first, slice.count, stop);
  });
  if (result != kOk) return result;
  const double peak = *std::max_element(peaks.begin(), peaks.end());
  if (peak <= kFullScale) return kOk;

  const double gain = kFullScale / peak;
  return ParallelFor(buffer->frameCount, stop, [&](unsigned, Slice slice) {
    ScaleFrames(*buffer, slice.first, slice.count, gain, stop);
  });
}

}  // namespace lumaro::dsp
