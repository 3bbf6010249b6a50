#include "dsp/to_one_bit.h"

#include <algorithm>
#include <array>
#include <optional>

#include "dsp/clip_guard.h"
#include "dsp/cubic_kernel.h"
#include "dsp/guarded_alloc.h"
#include "dsp/interpolate.h"
#include "dsp/mirror_lead_in.h"
#include "dsp/pages_ahead.h"
#include "dsp/parallel_for.h"
#include "dsp/resample.h"
#include "dsp/stereo_pair.h"
#include "dsp/vector_unit.h"
#include "dsp/worker_count.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNoBuffer = FirstCode(FailureSite::kToOneBit),
  kErrSourceRate,
  kErrEmptySource,
  kErrDsdRate,
  kErrRateChange,
  kErrClipGuard,
  kErrLeadIn,
  kErrTooLong,
  kErrOutput,
  kErrRunMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kToOneBit,
    kErrRunMemory,
    {"to-one-bit without a record", "to-one-bit source rate", "to-one-bit empty source",
     "to-one-bit DSD rate", "to-one-bit rate change", "to-one-bit clip-guard", "to-one-bit lead-in",
     "to-one-bit too long", "to-one-bit output", "to-one-bit run memory"}};

// Loop filter of the modulator: u = x + Σ a_k·e(t−k) decides the bit y = ±1, and
// e(t) = (u − y) + Σ b_k·e(t−k). The b_k sum to 1 (a pole at 1), so the state grows to
// millions while the bits stay right: it is kept in f64.
//
// y = +1 where u >= 0 is read off u's sign bit. u is never −0.0, the one value on which the two
// differ: that needs a_0·e(t−1) = −0.0, but a state is +0.0 when zero (the cleared state, the
// reset's mask, and (T − y) rounded where T = y) and at least 2^−53 in magnitude otherwise (T − 1
// and T + 1 are exact multiples of 2^−53 where they are small), so a_0·e(t−1) never underflows to
// −0.0 either. Nor is u ever not a number: the samples are finite and a runaway is caught before
// it reaches infinity (below).
constexpr double kA[8] = {0.6622002939829701,  -4.386690694566241,  12.46777741109802,
                          -19.705400296858347, 18.701720088608777,  -10.656250535139412,
                          3.3748033020978365,  -0.45815908971971375};
constexpr double kB[8] = {7.333728572105925,  -23.5888877320807,  43.47117649850515,
                          -50.21320840123172, 37.237233820994376, -17.319327891507537,
                          4.6211255639910584, -0.5418409102804446};

// Beyond this magnitude the loop's state has left its stable range (it keeps to a few million):
// a full-scale input can drive it there, and it would run away to infinity and then stand at
// not-a-number, every later bit 0. The newest state is checked after each PCM frame (not a number
// counts as beyond), and the channel's state is then reset to zero, as at a worker's start. A
// runaway grows through every state, and from below the bound a frame's R ≤ 16 steps cannot reach
// infinity (Σ|a_k + b_k| < 2^8, so a step multiplies the state by less than 2^8).
constexpr double kRunawayState = 1099511627776.0;  // 2^40

// The halving to 50 % modulation is folded into the sub-sample weights: w · (0.5 · s) and
// (0.5 · w) · s are the same double, as a power of two scales without rounding.
constexpr double kModulationDepth = 0.5;

// A frame's R bits of each channel (bit j the j-th in time) as R / 8 byte pairs at `out`; answers
// the pair after them.
template <unsigned R>
unsigned char* WriteFrameBits(unsigned left, unsigned right, unsigned char* out) noexcept {
  for (unsigned byte = 0; byte < R / 8; ++byte) {
    out[2 * byte] = static_cast<unsigned char>(left >> (8 * byte));
    out[2 * byte + 1] = static_cast<unsigned char>(right >> (8 * byte));
  }
  return out + 2 * (R / 8);
}

#if defined(LUMARO_AVX2_KERNELS)
// [e | e].
LUMARO_AVX2 inline __m256d BothHalves(__m128d e) { return _mm256_set_m128d(e, e); }

// The state to carry on: e(t − 1), then e(t − 2) … e(t − 8) from the low halves.
LUMARO_AVX2 inline void StoreState(StereoPair (&state)[8], __m128d e1, __m256d e2, __m256d e3,
                                   __m256d e4, __m256d e5, __m256d e6, __m256d e7, __m256d e8) {
  state[0].v = e1;
  const __m256d older[7] = {e2, e3, e4, e5, e6, e7, e8};
  for (int k = 0; k < 7; ++k) state[k + 1].v = _mm256_castpd256_pd128(older[k]);
}

// ModulateFrames with the two sums over the older taps (a_k and c_k) side by side in one
// 256-bit register, [a | c] times [e | e]; x is worked out in both halves. Every lane makes the
// IEEE operations ModulateFrames makes, in its order, so the bits are the same; about a third
// fewer operations per bit.
template <unsigned R>
LUMARO_AVX2 void ModulateFramesAvx2(const double* s, std::uint64_t count, unsigned char* out,
                                    const StereoPair (&w)[R][4], StereoPair (&state)[8],
                                    const platform::StopWord& stop) {
  __m256d ac[8];
  for (int k = 0; k < 8; ++k) ac[k] = _mm256_setr_pd(kA[k], kA[k], kA[k] + kB[k], kA[k] + kB[k]);
  const __m128d a0 = _mm_set1_pd(kA[0]);
  const __m128d c0 = _mm_set1_pd(kA[0] + kB[0]);
  __m256d weights[R][4];
  for (unsigned j = 0; j < R; ++j) {
    for (int i = 0; i < 4; ++i) weights[j][i] = _mm256_set1_pd(w[j][i].Left());
  }
  __m128d e1 = state[0].v;
  __m256d e2 = BothHalves(state[1].v), e3 = BothHalves(state[2].v), e4 = BothHalves(state[3].v),
          e5 = BothHalves(state[4].v), e6 = BothHalves(state[5].v), e7 = BothHalves(state[6].v),
          e8 = BothHalves(state[7].v);
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) return StoreState(state, e1, e2, e3, e4, e5, e6, e7, e8);
    const std::uint64_t end = std::min(count, done + kStopPollFrames);
    for (std::uint64_t n = done; n < end; ++n) {
      const __m256d s0 = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(s));
      const __m256d s1 = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(s + 2));
      const __m256d s2 = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(s + 4));
      const __m256d s3 = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(s + 6));
      unsigned left = 0;
      unsigned right = 0;
#pragma GCC unroll 16
      for (unsigned j = 0; j < R; ++j) {
        const __m256d x = _mm256_add_pd(
            _mm256_add_pd(
                _mm256_add_pd(_mm256_mul_pd(weights[j][0], s0), _mm256_mul_pd(weights[j][1], s1)),
                _mm256_mul_pd(weights[j][2], s2)),
            _mm256_mul_pd(weights[j][3], s3));
        const __m256d older = _mm256_add_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(ac[1], e2), _mm256_mul_pd(ac[2], e3)),
                          _mm256_add_pd(_mm256_mul_pd(ac[3], e4), _mm256_mul_pd(ac[4], e5))),
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(ac[5], e6), _mm256_mul_pd(ac[6], e7)),
                          _mm256_mul_pd(ac[7], e8)));
        const __m256d sums = _mm256_add_pd(x, older);  // [x + olderA | x + olderC]
        const StereoPair u{_mm_add_pd(_mm256_castpd256_pd128(sums), _mm_mul_pd(a0, e1))};
        unsigned bits;
        const StereoPair y = u.SignOf(&bits);
        const __m128d e =
            _mm_sub_pd(_mm_add_pd(_mm256_extractf128_pd(sums, 1), _mm_mul_pd(c0, e1)), y.v);
        e8 = e7;
        e7 = e6;
        e6 = e5;
        e5 = e4;
        e4 = e3;
        e3 = e2;
        e2 = BothHalves(e1);
        e1 = e;
        left |= (bits & 1U) << j;
        right |= (bits >> 1) << j;
      }
      out = WriteFrameBits<R>(left, right, out);
      s += 2;
      if (const unsigned runaway = StereoPair{e1}.LanesBeyond(kRunawayState); runaway != 0) {
        const __m128d kept = StereoPair::KeepMask(runaway);
        const __m256d keep = BothHalves(kept);
        e1 = _mm_and_pd(e1, kept);
        for (__m256d* e : {&e2, &e3, &e4, &e5, &e6, &e7, &e8}) *e = _mm256_and_pd(*e, keep);
      }
    }
  }
  StoreState(state, e1, e2, e3, e4, e5, e6, e7, e8);
}
#endif

// Modulates PCM frames [first, first + count) of both channels into byte pairs from pair
// first × R / 8. Only the newest state e(t−1) is on the path from one bit to the next: the
// older taps and the sub-sample are summed in a fixed tree while the previous bit is decided,
// left and right share one register, and ±1 comes from u's sign bit, not a branch. The new
// state is worked out as e(t) = x + Σ c_k·e(t−k) − y with c_k = a_k + b_k (the same sum as
// (u − y) + Σ b_k·e(t−k)), so that it waits for the bit only for one final subtraction.
//
// `s` is the PCM frame before the first to modulate (the four taps read s[n − 1] … s[n + 2]), `out`
// the first byte pair to write; `state` holds e(t − 1) … e(t − 8) of both channels and is carried
// on, so that a slice modulated in runs gives the bits of one run.
template <unsigned R>
void ModulateFrames(const double* s, std::uint64_t count, unsigned char* out,
                    const StereoPair (&w)[R][4], StereoPair (&state)[8],
                    const platform::StopWord& stop) {
#if defined(LUMARO_AVX2_KERNELS)
  if (HasAvx2()) return ModulateFramesAvx2<R>(s, count, out, w, state, stop);
#endif
  StereoPair a[8];
  StereoPair c[8];
  for (int k = 0; k < 8; ++k) {
    a[k] = StereoPair::Splat(kA[k]);
    c[k] = StereoPair::Splat(kA[k] + kB[k]);
  }
  StereoPair e1 = state[0], e2 = state[1], e3 = state[2], e4 = state[3], e5 = state[4],
             e6 = state[5], e7 = state[6], e8 = state[7];
  const auto keep = [&] {
    state[0] = e1, state[1] = e2, state[2] = e3, state[3] = e4;
    state[4] = e5, state[5] = e6, state[6] = e7, state[7] = e8;
  };
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) return keep();
    const std::uint64_t end = std::min(count, done + kStopPollFrames);
    for (std::uint64_t n = done; n < end; ++n) {
      const StereoPair s0 = StereoPair::Load(s);
      const StereoPair s1 = StereoPair::Load(s + 2);
      const StereoPair s2 = StereoPair::Load(s + 4);
      const StereoPair s3 = StereoPair::Load(s + 6);
      unsigned left = 0;
      unsigned right = 0;
#pragma GCC unroll 16
      for (unsigned j = 0; j < R; ++j) {
        const StereoPair x = ((w[j][0] * s0 + w[j][1] * s1) + w[j][2] * s2) + w[j][3] * s3;
        const StereoPair olderA = ((a[1] * e2 + a[2] * e3) + (a[3] * e4 + a[4] * e5)) +
                                  ((a[5] * e6 + a[6] * e7) + a[7] * e8);
        const StereoPair olderC = ((c[1] * e2 + c[2] * e3) + (c[3] * e4 + c[4] * e5)) +
                                  ((c[5] * e6 + c[6] * e7) + c[7] * e8);
        unsigned bits;
        const StereoPair y = ((x + olderA) + a[0] * e1).SignOf(&bits);
        const StereoPair e = ((x + olderC) + c[0] * e1) - y;
        e8 = e7;
        e7 = e6;
        e6 = e5;
        e5 = e4;
        e4 = e3;
        e3 = e2;
        e2 = e1;
        e1 = e;
        left |= (bits & 1U) << j;
        right |= (bits >> 1) << j;
      }
      out = WriteFrameBits<R>(left, right, out);
      s += 2;
      if (const unsigned runaway = e1.LanesBeyond(kRunawayState); runaway != 0) {
        for (StereoPair* e : {&e1, &e2, &e3, &e4, &e5, &e6, &e7, &e8}) *e = e->Without(runaway);
      }
    }
  }
  keep();
}

// The sub-sample weights, with the halving to 50 % modulation folded in.
template <unsigned R>
struct SubSampleWeights {
  StereoPair w[R][4];
  SubSampleWeights() {
    for (unsigned j = 0; j < R; ++j) {
      const auto weights = CubicWeights(static_cast<double>(j) / R);
      for (int i = 0; i < 4; ++i) w[j][i] = StereoPair::Splat(kModulationDepth * weights[i]);
    }
  }
};

StereoPair (&Cleared(StereoPair (&state)[8]))[8] {
  for (StereoPair& e : state) e = StereoPair::Zero();
  return state;
}

template <unsigned R>
Result ModulateTrack(const AudioBuffer& pcm, DsdBuffer& dsd, const platform::StopWord& stop) {
  const SubSampleWeights<R> weights;
  return ParallelFor(pcm.frameCount, stop, [&](unsigned, Slice slice) {
    StereoPair state[8];
    ModulateFrames<R>(pcm.Frame(static_cast<std::int64_t>(slice.first) - 1), slice.count,
                      dsd.Data() + 2 * slice.first * (R / 8), weights.w, Cleared(state), stop);
  });
}

// PCM frames per run of the modulator fed from an interpolation, and the frames a run reads
// around them (one before, two after).
constexpr std::uint64_t kRunFrames = 0x10000;
constexpr std::uint64_t kRunBefore = 1;
constexpr std::uint64_t kRunAround = 3;

// The track at the plan's PCM rate, a run at a time: frames [first − 1, first + count + 2) of the
// interpolation into `y`, mirrored about the track's ends as MirrorLeadIn mirrors, each times
// `gain` when the clip guard has one.
void InterpolatedRun(const AudioBuffer& in, const InterpolationPlan& plan, std::uint64_t first,
                     std::uint64_t count, std::optional<double> gain, double* y,
                     const platform::StopWord& stop) {
  const auto start = static_cast<std::int64_t>(first) - static_cast<std::int64_t>(kRunBefore);
  const std::uint64_t inside = start < 0 ? 0 : static_cast<std::uint64_t>(start);
  const std::uint64_t end = std::min(first + count + kRunAround - kRunBefore, plan.frames);
  InterpolateFrames(in, plan, inside, end - inside, y + 2 * (inside - start), stop);
  for (std::int64_t j = start; j < start + static_cast<std::int64_t>(count + kRunAround); ++j) {
    if (j >= 0 && static_cast<std::uint64_t>(j) < plan.frames) continue;
    InterpolateFrames(in, plan, MirroredFrame(j, plan.frames), 1, y + 2 * (j - start), stop);
  }
  if (gain) ScaleSamples(y, count + kRunAround, *gain, stop);
}

// ToOneBit of a track below the PCM rate: the interpolation up to it runs a run at a time into
// a small buffer per worker that feeds the modulator (once before to measure the clip guard's
// peak, unless the track is too low to need it), so the track at the PCM rate in 64-bit float
// never exists whole. The modulators see the samples, and start from zero at the slices, of the
// whole-track way: the same bits.
template <unsigned R>
Result ModulateInterpolation(const AudioBuffer& in, const InterpolationPlan& plan, DsdBuffer& dsd,
                             const platform::StopWord& stop) {
  const std::uint64_t runs = (plan.frames + kRunFrames - 1) / kRunFrames;
  // One count for the scratch and both passes' split, so that every worker has its run.
  const unsigned workers = WorkerCount();
  const std::uint64_t slots = std::min<std::uint64_t>({workers, plan.frames, kMaxWorkerSlots});
  const std::uint64_t runSamples = 2 * (kRunFrames + kRunAround);
  const RecordPtr<double> scratch(
      static_cast<double*>(GuardedAlloc(slots * runSamples * sizeof(double))));
  if (!scratch) return kFailures.Note(kErrRunMemory);

  // The clip guard's peak, in a pass of its own, where the interpolation may go past full scale
  // at all: a track that peaks low enough (below 2/3 of full scale for the usual cubic phases,
  // whose |weights| sum to at most 1.5) has no gain, whatever its frames.
  std::optional<double> gain;
  if (ClipGuardGain(InterpolationPeakBound(in, plan, stop))) {
    std::array<double, kMaxWorkerSlots> peaks{};
    const Result result = ParallelForOn(runs, workers, stop, [&](unsigned worker, Slice slice) {
      double* y = scratch.get() + worker * runSamples;
      for (std::uint64_t run = slice.first; run < slice.first + slice.count; ++run) {
        const std::uint64_t first = run * kRunFrames;
        const std::uint64_t count = std::min(kRunFrames, plan.frames - first);
        InterpolateFrames(in, plan, first, count, y, stop);
        peaks[worker] = std::max(peaks[worker], PeakOfSamples(y, count, stop));
      }
    });
    if (result != kOk) return result;
    gain = ClipGuardGain(*std::max_element(peaks.begin(), peaks.end()));
  }

  const SubSampleWeights<R> weights;
  return ParallelForOn(plan.frames, workers, stop, [&](unsigned worker, Slice slice) {
    double* y = scratch.get() + worker * runSamples;
    StereoPair state[8];
    Cleared(state);
    for (std::uint64_t done = 0; done < slice.count && stop.Load() == 0; done += kRunFrames) {
      const std::uint64_t first = slice.first + done;
      const std::uint64_t count = std::min(kRunFrames, slice.count - done);
      InterpolatedRun(in, plan, first, count, gain, y, stop);
      ModulateFrames<R>(y, count, dsd.Data() + 2 * first * (R / 8), weights.w, state, stop);
    }
  });
}

// The DsdBuffer for `frames` PCM frames of `plan` (its failures, noted).
Result NewOneBitRecord(const OneBitPlan& plan, std::uint64_t frames, DsdBufferPtr& dsd) {
  const Size128 length = static_cast<Size128>(frames) * (plan.bitsPerFrame / 8);
  if (length > kMaxBlock63) return kFailures.Note(kErrTooLong);
  if (NewDsdBufferToOverwrite(dsd, plan.dsdRate, static_cast<std::uint64_t>(length)) != kOk)
    return kFailures.Note(kErrOutput);
  return kOk;
}

// ToOneBit for a source below the plan's PCM rate: Interpolate's checks, then the modulation fed
// run by run from the interpolation.
Result ModulateFromBelow(BufferSlot& slot, const OneBitPlan& plan, const platform::StopWord& stop) {
  const AudioBufferPtr in = slot.TakeAs<AudioBuffer>();
  InterpolationPlan rise;
  if (PlanInterpolation(*in, plan.pcmRate, rise) != kOk) return kFailures.Note(kErrRateChange);
  DsdBufferPtr dsd;
  if (const Result made = NewOneBitRecord(plan, rise.frames, dsd); made != kOk) return made;
  const PagesAhead pagesAhead(ByteRange{dsd->Data(), 2 * dsd->length}, WorkerCount());
  MirrorLeadIn(*in);
  const Result result = plan.bitsPerFrame == 8 ? ModulateInterpolation<8>(*in, rise, *dsd, stop)
                                               : ModulateInterpolation<16>(*in, rise, *dsd, stop);
  if (result != kOk) return result;
  slot.Put(std::move(dsd));
  return kOk;
}

}  // namespace

const OneBitPlan* OneBitPlanFor(std::uint32_t dsdRate) noexcept {
  for (const OneBitPlan& plan : kOneBitPlans) {
    if (plan.dsdRate == dsdRate) return &plan;
  }
  return nullptr;
}

Result ToOneBit(BufferSlot& slot, std::uint32_t dsdRate, const platform::StopWord& stop) {
  const AudioBuffer* source = slot.Get<AudioBuffer>();
  const OneBitPlan* plan = OneBitPlanFor(dsdRate);
  Result refused = kOk;
  if (source == nullptr) {
    refused = kErrNoBuffer;
  } else if (source->sampleRate < kMinSampleRate) {
    refused = kErrSourceRate;
  } else if (source->frameCount == 0) {
    refused = kErrEmptySource;
  } else if (plan == nullptr) {
    refused = kErrDsdRate;
  }
  if (refused != kOk) {
    slot.Clear();
    return kFailures.Note(refused);
  }
  if (source->sampleRate < plan->pcmRate) return ModulateFromBelow(slot, *plan, stop);
  if (Resample(slot, plan->pcmRate, stop) != kOk) return kFailures.Note(kErrRateChange);
  if (ClipGuard(slot, stop) != kOk) {
    slot.Clear();
    return kFailures.Note(kErrClipGuard);
  }

  const AudioBufferPtr pcm = slot.TakeAs<AudioBuffer>();
  if (pcm->sampleRate < kMinSampleRate) return kFailures.Note(kErrSourceRate);
  if (pcm->frameCount == 0) return kFailures.Note(kErrEmptySource);
  // A buffer already at the PCM rate keeps its own lead-in; the four taps need two frames.
  if (pcm->leadIn < kInterpolateLeadIn) return kFailures.Note(kErrLeadIn);
  DsdBufferPtr dsd;
  if (const Result made = NewOneBitRecord(*plan, pcm->frameCount, dsd); made != kOk) return made;
  const PagesAhead pagesAhead(ByteRange{dsd->Data(), 2 * dsd->length}, WorkerCount());

  MirrorLeadIn(*pcm);
  const Result result = plan->bitsPerFrame == 8 ? ModulateTrack<8>(*pcm, *dsd, stop)
                                                : ModulateTrack<16>(*pcm, *dsd, stop);
  if (result != kOk) return result;
  slot.Put(std::move(dsd));
  return kOk;
}

}  // namespace lumaro::dsp
