#include "dsp/decimate.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "dsp/guarded_alloc.h"
#include "dsp/interpolate.h"
#include "dsp/mirror_lead_in.h"
#include "dsp/parallel_for.h"
#include "dsp/stereo_pair.h"
#include "dsp/vector_unit.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNoBuffer = FirstCode(FailureSite::kDecimate),
  kErrFactor,
  kErrRate,
  kErrLeadIn,
  kErrFrameCount,
  kErrOutput,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kDecimate,
    kErrOutput,
    {"decimate without a record", "decimate factor", "decimate rate", "decimate lead-in",
     "decimate frame count", "decimate output"}};

constexpr double kHalf2[] = {0.3708958988501661,    0.17904411463856038,    -0.0011527622004668774,
                             -0.04534898876693014,  -0.013640011468105482,  0.006512806410988658,
                             0.004200938600056292,  -3.310284805459725e-05, -0.0004342707608014892,
                             -5.58762618509832e-05, 8.958379114024585e-06,  7.806989879037478e-07};

constexpr double kHalf4[] = {
    0.19699377352070757,    0.1672831900425991,     0.11740170449205682,
    0.06228926057558607,    0.016169520031389675,   -0.012508848359646302,
    -0.02289295359086215,   -0.020055833067524943,  -0.011346819844314631,
    -0.0029052913067608515, 0.0021495201578734173,  0.0035948350981341855,
    0.0028122525646561195,  0.0013874592178387012,  0.00029925265363252605,
    -0.0001934583073471378, -0.0002598395719303674, -0.00015973693958512786,
    -5.937775599985997e-05, -8.852880370469888e-06, 4.292206120205776e-06,
    3.335486742448521e-06,  9.93204145402399e-07,   1.0907252666088073e-07};

constexpr double kHalf8[] = {
    0.09950731974056658,    0.09562845727714668,    0.08819647126516944,    0.07782552527068175,
    0.06534876523171299,    0.05172629311427257,    0.0379429484910187,     0.02490921351762261,
    0.0133774746265897,     0.003883043418804416,   -0.003284703416210726,  -0.008080250212687497,
    -0.01067241812471033,   -0.01139427235000863,   -0.0106813877974587,    -0.00900790507876605,
    -0.006828859761015335,  -0.004535184322001496,  -0.002425035959059578,  -0.0006922187080790708,
    0.0005700762133516592,  0.001353838005269448,   0.001713709169690937,   0.001742046839472948,
    0.001545601648013235,   0.001226696225277855,   0.0008704322683580222,  0.000538163620053565,
    0.000266446345425276,   7.002968738383528e-05,  -5.279407053811266e-05, -0.0001140625650874684,
    -0.0001304796361231895, -0.0001189970287491285, -9.396247155265073e-05, -6.577634378272832e-05,
    -4.07492895872535e-05,  -2.17407957554587e-05,  -9.163058931391722e-06, -2.017460145032201e-06,
    1.249721855219005e-06,  2.166655190537392e-06,  1.930520892991082e-06,  1.319400334374195e-06,
    7.410039764949091e-07,  3.423230509967409e-07,  1.244182214744588e-07,  3.130441005359396e-08};

static_assert(std::size(kHalf2) == DecimationHalfTaps(2));
static_assert(std::size(kHalf4) == DecimationHalfTaps(4));
static_assert(std::size(kHalf8) == DecimationHalfTaps(8));

#if defined(LUMARO_AVX2_KERNELS)
// Frame `at` and the frame `next` doubles further, side by side.
LUMARO_AVX2 inline __m256d TwoFrames(const double* at, std::uint64_t next) {
  return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(at)), _mm_loadu_pd(at + next), 1);
}

// DecimateFrames' sums for two output frames at once, while two remain, from the centre of the
// first (`centre`); each lane adds the same products in the same order. Answers the frames
// written.
template <std::uint64_t F>
LUMARO_AVX2 std::uint64_t DecimatePairsAvx2(const double* centre, std::uint64_t count, double* y,
                                            const double* half) {
  constexpr std::uint64_t kHalfTaps = 6 * F;
  constexpr std::uint64_t kNext = 2 * F;  // doubles from one output frame's centre to the next
  std::uint64_t f = 0;
  for (; f + 2 <= count; f += 2, centre += 2 * kNext) {
    __m256d s[4] = {_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd(),
                    _mm256_setzero_pd()};
    PrefetchAhead(centre, 2 * kNext * sizeof(double));
    for (std::uint64_t m = 0; m < kHalfTaps; ++m) {
      const __m256d pair =
          _mm256_add_pd(TwoFrames(centre + 2 * m, kNext),
                        TwoFrames(centre - 2 * static_cast<std::int64_t>(m + 1), kNext));
      s[m % 4] = _mm256_add_pd(s[m % 4], _mm256_mul_pd(_mm256_set1_pd(half[m]), pair));
    }
    _mm256_storeu_pd(y + 2 * f,
                     _mm256_add_pd(_mm256_add_pd(s[0], s[1]), _mm256_add_pd(s[2], s[3])));
  }
  return f;
}
#endif

// Output frames [first, first + count) into `y` for a filter half of H = 6F taps. The filter is
// symmetric about −½, so each tap multiplies the sum of its two mirrored input frames: y = Σ h[m] ·
// (x[c + m] + x[c − 1 − m]) with c = F·f, summed in four interleaved accumulators (m mod 4) that
// are added as (s0 + s1) + (s2 + s3). The order is fixed, so every build gives the same bits.
template <std::uint64_t F>
void DecimateFrames(const AudioBuffer& in, std::uint64_t first, std::uint64_t count, double* y,
                    const double* half, const platform::StopWord& stop) {
  constexpr std::uint64_t kHalfTaps = 6 * F;
  StereoPair taps[kHalfTaps];
  for (std::uint64_t m = 0; m < kHalfTaps; ++m) taps[m] = StereoPair::Splat(half[m]);
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) return;
    const std::uint64_t end = std::min(count, done + kStopPollFrames);
    std::uint64_t f = done;
#if defined(LUMARO_AVX2_KERNELS)
    if (HasAvx2()) {
      f += DecimatePairsAvx2<F>(in.Frame(static_cast<std::int64_t>(F * (first + f))), end - f,
                                y + 2 * f, half);
    }
#endif
    for (; f < end; ++f) {
      const double* centre = in.Frame(static_cast<std::int64_t>(F * (first + f)));
      PrefetchAhead(centre, F * kAudioFrameBytes);
      StereoPair s[4] = {StereoPair::Zero(), StereoPair::Zero(), StereoPair::Zero(),
                         StereoPair::Zero()};
      for (std::uint64_t m = 0; m < kHalfTaps; ++m) {
        const StereoPair pair = StereoPair::Load(centre + 2 * m) +
                                StereoPair::Load(centre - 2 * static_cast<std::int64_t>(m + 1));
        s[m % 4] = s[m % 4] + taps[m] * pair;
      }
      ((s[0] + s[1]) + (s[2] + s[3])).Store(y + 2 * f);
    }
  }
}

}  // namespace

std::span<const double> DecimationFilter(std::uint32_t factor) noexcept {
  switch (factor) {
    case 2:
      return kHalf2;
    case 4:
      return kHalf4;
    case 8:
      return kHalf8;
    default:
      return {};
  }
}

Result CheckDecimation(const AudioBuffer& in, std::uint32_t factor, std::uint64_t* frames) {
  if (DecimationFilter(factor).empty()) return kFailures.Note(kErrFactor);
  const std::uint32_t rate = in.sampleRate;
  if (rate < static_cast<std::uint64_t>(factor) * kMinSampleRate || rate % factor != 0) {
    return kFailures.Note(kErrRate);
  }
  if (in.leadIn < DecimationHalfTaps(factor)) return kFailures.Note(kErrLeadIn);
  *frames = in.frameCount / factor;
  if (*frames == 0) return kFailures.Note(kErrFrameCount);
  return kOk;
}

void DecimateRange(const AudioBuffer& in, std::uint32_t factor, std::uint64_t first,
                   std::uint64_t count, double* y, const platform::StopWord& stop) {
  const double* half = DecimationFilter(factor).data();
  switch (factor) {
    case 2:
      return DecimateFrames<2>(in, first, count, y, half, stop);
    case 4:
      return DecimateFrames<4>(in, first, count, y, half, stop);
    case 8:
      return DecimateFrames<8>(in, first, count, y, half, stop);
    default:
      return;
  }
}

namespace {

// Output frames at the front whose places hold input frames that later output frames still read
// (output frame f lies where input frame f did, and frames after f read input frames from
// F·f − 6F on): fewer than 6F / (F − 1) + 1, which is 13 at most.
constexpr std::uint64_t kHeldFrames = 16;

// The decimation written over its own input, output frame f where input frame f lay: the first
// kHeldFrames frames are held aside and written last; from there on each frame's place holds an
// input frame that no later output frame reads.
void DecimateInPlace(AudioBuffer& in, std::uint32_t factor, std::uint64_t frames,
                     const platform::StopWord& stop) {
  std::array<double, 2 * kHeldFrames> held{};
  const std::uint64_t heldFrames = std::min(kHeldFrames, frames);
  DecimateRange(in, factor, 0, heldFrames, held.data(), stop);
  if (frames > heldFrames) {
    DecimateRange(in, factor, heldFrames, frames - heldFrames,
                  in.Frame(static_cast<std::int64_t>(heldFrames)), stop);
  }
  std::memcpy(in.Frame(0), held.data(), heldFrames * kAudioFrameBytes);
}

}  // namespace

Result Decimate(BufferSlot& slot, std::uint32_t factor, const platform::StopWord& stop,
                platform::ThreadStarter& threads) {
  AudioBufferPtr in = slot.TakeAs<AudioBuffer>();
  if (!in) return kFailures.Note(kErrNoBuffer);
  std::uint64_t frames = 0;
  if (const Result checked = CheckDecimation(*in, factor, &frames); checked != kOk) return checked;
  const std::uint32_t rate = in->sampleRate / factor;
  // With the same lead-in the output is written over the input in its block; its claim on the
  // system's memory is still put to the guard, as a new record's would be.
  const bool inPlace = in->leadIn == kResampledLeadIn;
  AudioBufferPtr out;
  if (inPlace ? AudioBufferAllowed(rate, frames, kResampledLeadIn) != kOk
              : NewAudioBufferToOverwrite(out, rate, frames, kResampledLeadIn) != kOk) {
    return kFailures.Note(kErrOutput);
  }

  MirrorLeadIn(*in);
  // The filter is serial work on one thread, as the playback thread waits for it anyway.
  auto worker = threads.Start([&] {
    if (inPlace) {
      DecimateInPlace(*in, factor, frames, stop);
    } else {
      DecimateRange(*in, factor, 0, frames, out->Frame(0), stop);
    }
  });
  if (!worker) return kFailures.Note(kErrThreadStart);
  worker->Join();
  if (stop.Load() != 0) return kFailures.Note(kErrStopped);
  if (inPlace) {
    out = AudioBufferInBlock(in.release(), rate, frames, kResampledLeadIn);
    GuardedShrink(out.get(), AudioBufferBytes(frames, kResampledLeadIn));
  }
  slot.Put(std::move(out));
  return kOk;
}

}  // namespace lumaro::dsp
