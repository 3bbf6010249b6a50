#pragma once

#include <optional>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// Scales the AudioBuffer in the slot, in place, so that no real sample exceeds 1.0 in magnitude:
// when the largest |sample| (the peak) is above 1.0 every real sample is multiplied by 1 / peak;
// otherwise the buffer is left untouched. Fails for an empty slot, a record other than an
// AudioBuffer, zero frames, a worker that cannot start, or a stop request; the buffer stays in
// the slot in every case. Playback thread.
[[nodiscard]] Result ClipGuard(BufferSlot& slot, const platform::StopWord& stop);
// The same, and on success the peak of the frames as they are left (ScaledPeak of the one
// measured) in `peakAfter`, for FloatToOutputWithPeak.
[[nodiscard]] Result ClipGuardTellingPeak(BufferSlot& slot, const platform::StopWord& stop,
                                          double* peakAfter);

// ClipGuard's second pass for a buffer whose peak was measured as its frames were written (the
// largest |sample| of its real frames): above 1.0 every real frame is scaled by 1 / peak. Fails
// only for a worker that cannot start or a stop request; the buffer stays where it is. Playback
// thread.
[[nodiscard]] Result ClipGuardWithPeak(AudioBuffer& buffer, double peak,
                                       const platform::StopWord& stop);

// The largest |sample| among all the real frames of `buffer` into `peak`, every worker taking a
// slice. Fails for a worker that cannot start or a stop request. Playback thread.
[[nodiscard]] Result PeakOfRecord(const AudioBuffer& buffer, const platform::StopWord& stop,
                                  double* peak);

// The largest |sample| among the real frames [first, first + count) of `buffer`, polling `stop`
// every kStopPollFrames frames (a partial answer when it is set). A sample that is not a number
// is passed over.
double PeakOfFrames(const AudioBuffer& buffer, std::uint64_t first, std::uint64_t count,
                    const platform::StopWord& stop);
// The same for `count` stereo frames at `samples`.
double PeakOfSamples(const double* samples, std::uint64_t count, const platform::StopWord& stop);
// The largest |x| of samples [first, end) (not frames), and `peak` when larger, without polling;
// a sample that is not a number is passed over. Any thread.
double PeakOfRun(const double* samples, std::uint64_t first, std::uint64_t end, double peak);

// Multiplies the real frames [first, first + count) by `gain`, polling `stop` likewise.
void ScaleFrames(AudioBuffer& buffer, std::uint64_t first, std::uint64_t count, double gain,
                 const platform::StopWord& stop);
// The same for `count` stereo frames at `samples`.
void ScaleSamples(double* samples, std::uint64_t count, double gain,
                  const platform::StopWord& stop);

// The clip guard's gain for a measured peak: 1 / peak above 1.0, none otherwise.
std::optional<double> ClipGuardGain(double peak) noexcept;

// The peak of samples that had the peak `peak` once each was multiplied by `gain` (≥ 0): since
// rounding to nearest keeps the order of magnitudes, it is the rounded product of the peak
// itself, so a later stage's measuring pass over the scaled samples can be skipped.
double ScaledPeak(double peak, double gain) noexcept;

}  // namespace lumaro::dsp
