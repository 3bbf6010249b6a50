#pragma once

#include <cstdint>

#include "dsp/audio_buffer.h"
#include "dsp/buffer_slot.h"
#include "dsp/record_ptr.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

inline constexpr std::uint32_t kMaxInterpolateRate = 6144000;
// Frames of lead-in the four-tap kernel reads on each side of the track.
inline constexpr std::uint64_t kInterpolateLeadIn = 2;
// Lead-in of the AudioBuffers the rate stages make.
inline constexpr std::uint64_t kResampledLeadIn = 48;

// Phases of the interpolator from `source` to `target`: target / gcd(source, target).
std::uint64_t InterpolationPhases(std::uint32_t source, std::uint32_t target) noexcept;

// Frames after a change from `source` to `target`: floor(frames × target / source), worked out
// in 128 bits; 0 when it would not fit in 63 bits.
std::uint64_t InterpolatedFrames(std::uint64_t frames, std::uint32_t source,
                                 std::uint32_t target) noexcept;

// One phase of the interpolator: the four weights, and how many input frames to move on after it.
struct InterpolationPhase {
  double w[4];
  std::uint64_t advance;
};

// An interpolation from a source buffer to `target` Hz: the output frame count and the phase
// table (taken through the memory guard, freed with the plan).
struct InterpolationPlan {
  std::uint32_t source = 0;
  std::uint32_t target = 0;
  std::uint64_t frames = 0;
  std::uint64_t phaseCount = 0;
  RecordPtr<InterpolationPhase> phases;

  // Seconds of output, the last one possibly partial: the units Interpolate's workers share.
  std::uint64_t Seconds() const noexcept { return (frames + target - 1) / target; }
};

// Interpolate's checks and phase table for `in` and `target` (its failures, noted).
[[nodiscard]] Result PlanInterpolation(const AudioBuffer& in, std::uint32_t target,
                                       InterpolationPlan& plan);

// The answer Interpolate would give when it asks for the output record of `plan` (a refusal
// noted as it notes it), without taking it: for a step that makes those frames a block at a
// time but keeps the record's claim on the system's memory. Any thread.
[[nodiscard]] Result InterpolationOutputAllowed(const InterpolationPlan& plan) noexcept;

// A bound on |sample| of every output frame of `plan` from `in`: the input's peak (its real
// frames; a sample that is not a number is passed over, as the peak of the output passes it over)
// times the largest sum of |weights| of a phase, with room for the rounding of the four products
// and their sum. Reads every real frame once, polling `stop` (a partial answer when it is set).
// Any thread.
[[nodiscard]] double InterpolationPeakBound(const AudioBuffer& in, const InterpolationPlan& plan,
                                            const platform::StopWord& stop);

// Writes output frames [first, first + count) into `y` (cut at the frame count), from `in` whose
// lead-ins are mirrored: the frames the whole interpolation gives there, wherever it starts.
// Polls `stop` every kStopPollFrames frames. Any thread.
void InterpolateFrames(const AudioBuffer& in, const InterpolationPlan& plan, std::uint64_t first,
                       std::uint64_t count, double* y, const platform::StopWord& stop);

// Replaces the AudioBuffer in the slot by one at `target` Hz (lead-in 48) made with cubic
// convolution: output frame f lies at f × source / target input frames, between input frames p
// and p + 1 at the phase of that fraction. Both lead-ins of the source are mirrored first. The
// workers take whole seconds of output each, so every slice starts at phase 0. Meant for rising
// rates; a falling target keeps the right timing (the input position steps by more than one
// frame) but has no low-pass. Fails for a source rate below 8000 or lead-in below 2, no frames,
// a target outside 8000 … 6,144,000, no output frames, a refused allocation, a worker that
// cannot start or a stop request. The source is freed in every case; on failure the slot is
// empty. Playback thread.
[[nodiscard]] Result Interpolate(BufferSlot& slot, std::uint32_t target,
                                 const platform::StopWord& stop);

}  // namespace lumaro::dsp
