#include "dsp/loudness_normalize.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/clip_guard.h"
#include "dsp/level_sum.h"
#include "dsp/parallel_for.h"
#include "dsp/vector_unit.h"
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

// The integer term of one sample: ⌊x² · 2^31⌋ or ⌊|x| · 2^31⌋.
template <bool kRms>
std::uint64_t TermOf(double x) {
  return TruncateToU64((kRms ? x * x : std::fabs(x)) * kTwoPow31);
}

#if defined(LUMARO_AVX2_KERNELS)
// The terms of samples [i, end) four at a time, where all four are below 2^31 (within full
// scale): the same products, truncated as 32-bit integers, whose sum is exact in any order. A
// group with a larger or undefined term is left to TermOf. Answers where it stopped; adds to
// `total`.
template <bool kRms>
LUMARO_AVX2 std::uint64_t AddTermsAvx2(const double* samples, std::uint64_t i, std::uint64_t end,
                                       Sum128& total) {
  constexpr std::uint64_t kLanes = 4;
  const __m256d scale = _mm256_set1_pd(kTwoPow31);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  __m256i sums = _mm256_setzero_si256();  // at most 2^31 · kStopPollFrames per lane
  for (; i + kLanes <= end; i += kLanes) {
    const __m256d x = _mm256_loadu_pd(samples + i);
    const __m256d term =
        _mm256_mul_pd(kRms ? _mm256_mul_pd(x, x) : _mm256_and_pd(x, magnitude), scale);
    if (_mm256_movemask_pd(_mm256_cmp_pd(term, scale, _CMP_LT_OQ)) != 0xF) {
      for (std::uint64_t k = 0; k < kLanes; ++k) total += TermOf<kRms>(samples[i + k]);
      continue;
    }
    sums = _mm256_add_epi64(sums, _mm256_cvtepu32_epi64(_mm256_cvttpd_epi32(term)));
  }
  alignas(32) std::uint64_t lanes[kLanes];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sums);
  total += Sum128{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
  return i;
}
#endif

// The sum of the ARV or RMS terms of both channels over real frames [first, first + count),
// polling `stop` between blocks (a partial sum when it is set; the caller then fails).
template <bool kRms>
Sum128 SumOfTerms(const AudioBuffer& buffer, Slice slice, const platform::StopWord& stop) {
  Sum128 total = 0;
  const double* samples = buffer.Frame(static_cast<std::int64_t>(slice.first));
  for (std::uint64_t done = 0; done < slice.count; done += kStopPollFrames) {
    if (stop.Load() != 0) break;
    const std::uint64_t end = 2 * std::min(slice.count, done + kStopPollFrames);
    std::uint64_t i = 2 * done;
#if defined(LUMARO_AVX2_KERNELS)
    if (HasAvx2()) i = AddTermsAvx2<kRms>(samples, i, end, total);
#endif
    for (; i < end; ++i) total += TermOf<kRms>(samples[i]);
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
