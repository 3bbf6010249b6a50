#include "dsp/float_to_output.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>

#include "dsp/clip_guard.h"
#include "dsp/guarded_alloc.h"
#include "dsp/pages_ahead.h"
#include "dsp/parallel_for.h"
#include "dsp/vector_unit.h"
#include "dsp/worker_count.h"
#include "platform/failure.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNoBuffer = FirstCode(FailureSite::kFloatToOutput),
  kErrEmptySource,
  kErrBits,
  kErrOutput,
  kErrBlockMemory,
  kErrInPlaceGuard,
};

// Frames of one block of a record read in place into a new record (its lead-in too short for the
// output's): its peak is measured while it is in the cache.
constexpr std::uint64_t kReadInPlaceBlockFrames = 8192;
// Clip guards BlocksToOutput runs in a row at most: a conversion's own and the player's.
constexpr unsigned kMaxClipGuards = 2;
constexpr platform::FailureNames kFailures{
    FailureSite::kFloatToOutput,
    kErrInPlaceGuard,
    {"float-to-output without a record", "float-to-output empty source", "float-to-output width",
     "float-to-output output", "float-to-output block memory",
     "float-to-output clip guard on frames read in place"}};

bool IsOutputWidth(unsigned bits) { return bits == 16 || bits == 24 || bits == 32; }

// The largest integer of a signed `bits`-wide sample that is used: full scale is symmetric.
double FullScale(unsigned valid) { return std::ldexp(1.0, static_cast<int>(valid) - 1) - 1.0; }

// Rounds x·k and x'·k of one frame to the nearest integers, ties to even (the processor's
// default rounding), saturating at ±limit; a value that is not a number gives 0.
inline void RoundFrame(const double* frame, double k, double limit, std::int32_t* v) {
#if defined(__SSE2__)
  __m128d t = _mm_mul_pd(_mm_loadu_pd(frame), _mm_set1_pd(k));
  t = _mm_and_pd(t, _mm_cmpord_pd(t, t));
  t = _mm_min_pd(_mm_max_pd(t, _mm_set1_pd(-limit)), _mm_set1_pd(limit));
  const __m128i rounded = _mm_cvtpd_epi32(t);
  v[0] = _mm_cvtsi128_si32(rounded);
  v[1] = _mm_cvtsi128_si32(_mm_srli_si128(rounded, 4));
#else
  for (int c = 0; c < 2; ++c) {
    double t = frame[c] * k;
    if (std::isnan(t)) t = 0.0;
    t = std::clamp(t, -limit, limit);
    v[c] = static_cast<std::int32_t>(std::nearbyint(t));
  }
#endif
}

#if defined(LUMARO_AVX2_KERNELS)
// RoundFrame on two frames at once: four rounded samples.
LUMARO_AVX2 inline __m128i RoundTwoFrames(const double* frames, __m256d k, __m256d low,
                                          __m256d high) {
  __m256d t = _mm256_mul_pd(_mm256_loadu_pd(frames), k);
  t = _mm256_and_pd(t, _mm256_cmp_pd(t, t, _CMP_ORD_Q));
  t = _mm256_min_pd(_mm256_max_pd(t, low), high);
  return _mm256_cvtpd_epi32(t);
}

// ConvertInteger's frames four at a time while four remain; answers the frames written.
template <unsigned Bytes>
LUMARO_AVX2 std::uint64_t ConvertIntegerAvx2(const double* x, std::uint64_t count, unsigned char* y,
                                             double k, double limit, unsigned shift) {
  constexpr std::uint64_t kFrames = 4;
  const __m256d scale = _mm256_set1_pd(k);
  const __m256d low = _mm256_set1_pd(-limit);
  const __m256d high = _mm256_set1_pd(limit);
  const __m128i left = _mm_cvtsi32_si128(static_cast<int>(shift));
  // The low `Bytes` bytes of each 32-bit word, packed to the front of its 128-bit half.
  const __m256i pack =
      Bytes == 3 ? _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2,
                                    4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1)
                 : _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1,
                                    4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  // The packed bytes of both halves side by side: words 0-2 and 4-6 (three bytes), 0-1 and 4-5.
  const __m256i join = Bytes == 3 ? _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7)
                                  : _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
  std::uint64_t f = 0;
  for (; f + kFrames <= count; f += kFrames) {
    const __m128i a = RoundTwoFrames(x + 2 * f, scale, low, high);
    const __m128i b = RoundTwoFrames(x + 2 * f + 4, scale, low, high);
    const __m256i words = _mm256_sll_epi32(_mm256_set_m128i(b, a), left);
    unsigned char* out = y + 2 * f * Bytes;
    if constexpr (Bytes == 4) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), words);
    } else {
      const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), join);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
      if constexpr (Bytes == 3) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
      }
    }
  }
  return f;
}

// ConvertFloat's samples four at a time while four remain; answers the samples written.
LUMARO_AVX2 std::uint64_t ConvertFloatAvx2(const double* x, std::uint64_t samples, unsigned char* y,
                                           double gain) {
  constexpr std::uint64_t kSamples = 4;
  const __m256d scale = _mm256_set1_pd(gain);
  std::uint64_t i = 0;
  for (; i + kSamples <= samples; i += kSamples) {
    _mm_storeu_ps(reinterpret_cast<float*>(y + 4 * i),
                  _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_loadu_pd(x + i), scale)));
  }
  return i;
}
#endif

// `count` frames from `x`: each value shifted left by `shift` (left-justified in the container)
// and written from `y` as its low `bytes` bytes, little-endian.
template <unsigned Bytes>
void ConvertInteger(const double* x, std::uint64_t count, unsigned char* y, double k, double limit,
                    unsigned shift, const platform::StopWord& stop) {
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) return;
    const std::uint64_t end = std::min(count, done + kStopPollFrames);
    std::uint64_t f = done;
#if defined(LUMARO_AVX2_KERNELS)
    if (HasAvx2()) {
      f += ConvertIntegerAvx2<Bytes>(x + 2 * f, end - f, y + 2 * f * Bytes, k, limit, shift);
    }
#endif
    for (; f < end; ++f) {
      std::int32_t v[2];
      RoundFrame(x + 2 * f, k, limit, v);
      for (int c = 0; c < 2; ++c) {
        const std::uint32_t word = static_cast<std::uint32_t>(v[c]) << shift;
        unsigned char bytes[4] = {
            static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
            static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 24)};
        std::memcpy(y + (2 * f + c) * Bytes, bytes, Bytes);
      }
    }
  }
}

void ConvertFloat(const double* x, std::uint64_t count, unsigned char* y, double gain,
                  const platform::StopWord& stop) {
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) return;
    const std::uint64_t end = 2 * std::min(count, done + kStopPollFrames);
    std::uint64_t i = 2 * done;
#if defined(LUMARO_AVX2_KERNELS)
    if (HasAvx2()) i += ConvertFloatAvx2(x + i, end - i, y + 4 * i, gain);
#endif
    for (; i < end; ++i) {
      const float sample = static_cast<float>(x[i] * gain);
      std::memcpy(y + 4 * i, &sample, 4);
    }
  }
}

// FloatToOutput in the AudioBuffer's own block, where the output record's header, lead-in and
// first frame end before real frame 0. The record's claim on the system's memory is put to the
// guard first, as a new record's would be. Then the peak is measured (unless known), and each
// frame converted once with the gain that follows from it: an output frame is never wider than an
// AudioBuffer frame, so in levels from the first frame, every frame whose output ends before the
// frames still to be read is converted at once (by a worker per kLevelFramesPerWorker frames, up
// to every worker). The block is then cut to the output record's size
// (a large block; a smaller one is kept whole) and its header and lead-ins written. The answer,
// or nullopt when the output does not fit in front (`in` untouched).
std::optional<Result> ConvertInOwnBlock(AudioBufferPtr& in, const OutputFormat& format,
                                        std::optional<double> knownPeak,
                                        const platform::StopWord& stop, BufferSlot& slot) {
  // The record's layout; the gain follows once the peak is known.
  const OutputConversion layout(format.validBits, format.containerBits, format.asFloat, 1.0);
  const auto bits = static_cast<std::uint8_t>(format.containerBits);
  const std::uint64_t frameBytes = layout.FrameBytes();
  const std::uint64_t frames = in->frameCount;
  const std::uint32_t rate = in->sampleRate;
  const double* x = in->Frame(0);
  auto* block = reinterpret_cast<unsigned char*>(in.get());
  const auto inputStart =
      static_cast<std::uint64_t>(reinterpret_cast<const unsigned char*>(x) - block);
  const std::uint64_t outputStart = sizeof(PcmBuffer) + kPcmLeadIn * frameBytes;
  if (inputStart < outputStart ||
      !LevelsFromTheFrontHold(kAudioFrameBytes, frameBytes, inputStart - outputStart)) {
    return std::nullopt;
  }
  if (PcmBufferAllowed(layout.SampleFormat(), 2, bits, rate, frames) != kOk) {
    return kFailures.Note(kErrOutput);
  }
  double peak = knownPeak.value_or(0.0);
  if (!knownPeak) {
    if (const Result measured = PeakOfRecord(*in, stop, &peak); measured != kOk) return measured;
  }
  const OutputConversion to(format.validBits, format.containerBits, format.asFloat, peak);
  RecordPtr<unsigned char> owned(reinterpret_cast<unsigned char*>(in.release()));
  unsigned char* y = block + outputStart;
  const auto convertLevel = [&](std::uint64_t first, std::uint64_t end) {
    return ParallelForOn(end - first, LevelWorkers(end - first), stop, [&](unsigned, Slice slice) {
      const std::uint64_t f = first + slice.first;
      to.Convert(x + 2 * f, slice.count, y + f * frameBytes, stop);
    });
  };
  if (const Result converted = InLevelsFromTheFront(frames, kAudioFrameBytes, frameBytes,
                                                    inputStart - outputStart, convertLevel);
      converted != kOk) {
    return converted;
  }
  GuardedShrink(owned.get(), PcmBufferBytes(2, bits, frames));
  slot.Put(PcmBufferInBlock(owned.release(), to.SampleFormat(), 2, bits, rate, frames));
  return kOk;
}

}  // namespace

bool IsOutputFormat(unsigned validBits, unsigned containerBits) noexcept {
  return IsOutputWidth(validBits) && IsOutputWidth(containerBits) && validBits <= containerBits;
}

OutputConversion::OutputConversion(unsigned validBits, unsigned containerBits, bool asFloat,
                                   double peak) noexcept
    : container_(containerBits),
      float_(asFloat && validBits == 32 && containerBits == 32),
      gain_(peak > 1.0 ? 1.0 / peak : 1.0),
      limit_(FullScale(validBits)),
      k_(gain_ * limit_),
      shift_(containerBits - validBits) {}

void OutputConversion::Convert(const double* x, std::uint64_t count, unsigned char* y,
                               const platform::StopWord& stop) const noexcept {
  if (float_) {
    ConvertFloat(x, count, y, gain_, stop);
  } else if (container_ == 16) {
    ConvertInteger<2>(x, count, y, k_, limit_, shift_, stop);
  } else if (container_ == 24) {
    ConvertInteger<3>(x, count, y, k_, limit_, shift_, stop);
  } else {
    ConvertInteger<4>(x, count, y, k_, limit_, shift_, stop);
  }
}

std::uint16_t OutputConversion::SampleFormat() const noexcept {
  return float_ ? kPcmFloat : kPcmInteger;
}

unsigned OutputConversion::FrameBytes() const noexcept { return 2 * (container_ / 8); }

PcmBufferPtr OutputConversion::NewRecord(std::uint32_t sampleRate,
                                         std::uint64_t frames) const noexcept {
  PcmBufferPtr out;
  if (NewPcmBufferToOverwrite(out, SampleFormat(), 2, static_cast<std::uint8_t>(container_),
                              sampleRate, frames) != kOk) {
    out.reset();
  }
  return out;
}

Result BlocksToOutput(const BlockSource& source, std::uint32_t rate, unsigned clipGuards,
                      const OutputFormat& format, const std::function<void()>& beforeConversion,
                      const platform::StopWord& stop, BufferSlot& slot) {
  if (!IsOutputFormat(format.validBits, format.containerBits)) return kFailures.Note(kErrBits);
  if (source.frames == 0 || source.blockFrames == 0) return kFailures.Note(kErrEmptySource);
  // Frames read in place are never scaled.
  if (source.samples != nullptr && clipGuards > 0) return kFailures.Note(kErrInPlaceGuard);
  const std::uint64_t blocks = (source.frames + source.blockFrames - 1) / source.blockFrames;
  // One count for the scratch and the passes' split, so that every worker has its block.
  const unsigned workers = WorkerCount();
  const std::uint64_t slots = std::min<std::uint64_t>({workers, blocks, kMaxWorkerSlots});
  const std::uint64_t blockSamples = 2 * source.blockFrames;
  const OutputConversion withinFullScale(format.validBits, format.containerBits, format.asFloat,
                                         1.0);
  PcmBufferPtr out = withinFullScale.NewRecord(rate, source.frames);
  // Frames read in place need no scratch.
  const RecordPtr<double> scratch(
      source.samples != nullptr
          ? nullptr
          : static_cast<double*>(GuardedAlloc(slots * blockSamples * sizeof(double))));
  const bool ownMemory = out && (scratch || source.samples != nullptr);
  // The source's own memory is asked for only once the conversion has its own.
  if (!ownMemory || (source.prepare && source.prepare(static_cast<unsigned>(slots)) != kOk)) {
    // These blocks are the conversion's own: its text comes before their failure, as it would
    // before a refused record of FloatToOutput.
    if (stop.Load() == 0) beforeConversion();
    return kFailures.Note(out ? kErrBlockMemory : kErrOutput);
  }

  // The record's pages made resident beside the workers, each worker's slice of blocks from its
  // front on.
  const SlicePlan plan = PlanSlices(blocks, workers);
  std::array<ByteRange, kMaxWorkerSlots> slices{};
  for (unsigned i = 0; i < plan.count; ++i) {
    const std::uint64_t first = plan.slices[i].first * source.blockFrames;
    const std::uint64_t end =
        std::min(source.frames, (plan.slices[i].first + plan.slices[i].count) * source.blockFrames);
    slices[i] = {out->Data() + first * out->BytesPerFrame(), (end - first) * out->BytesPerFrame()};
  }
  const PagesAhead pagesAhead(std::span<const ByteRange>(slices.data(), plan.count), workers);

  // Block b, read in place or made into the worker's scratch and scaled there by each gain in
  // turn, converted into the output record; answers the block's peak before scaling.
  const auto convertBlock = [&](unsigned worker, std::uint64_t b, const OutputConversion& to,
                                std::span<const double> gains) {
    const std::uint64_t first = b * source.blockFrames;
    const std::uint64_t count = std::min(source.blockFrames, source.frames - first);
    unsigned char* bytes = out->Data() + first * out->BytesPerFrame();
    if (source.samples != nullptr) {
      const double* y = source.samples + 2 * first;
      const double peak = PeakOfSamples(y, count, stop);
      to.Convert(y, count, bytes, stop);
      return peak;
    }
    double* y = scratch.get() + worker * blockSamples;
    source.produce(worker, b, y, count);
    const double peak = PeakOfSamples(y, count, stop);
    for (const double gain : gains) ScaleSamples(y, count, gain, stop);
    to.Convert(y, count, bytes, stop);
    return peak;
  };
  const auto eachBlock = [&](const auto& body) {
    return ParallelForOn(blocks, workers, stop, [&](unsigned worker, Slice slice) {
      for (std::uint64_t b = slice.first; b < slice.first + slice.count && stop.Load() == 0; ++b) {
        body(worker, b);
      }
    });
  };
  std::array<double, kMaxWorkerSlots> peaks{};
  Result result = eachBlock([&](unsigned worker, std::uint64_t b) {
    peaks[worker] = std::max(peaks[worker], convertBlock(worker, b, withinFullScale, {}));
  });
  if (result != kOk) return result;
  // Each clip guard's gain, and the peak the conversion would measure after them, follow from
  // the peak itself.
  double peak = *std::max_element(peaks.begin(), peaks.end());
  std::array<double, kMaxClipGuards> gains{};
  std::size_t gainCount = 0;
  for (unsigned g = 0; g < clipGuards && g < gains.size(); ++g) {
    const std::optional<double> gain = ClipGuardGain(peak);
    if (!gain) break;
    gains[gainCount++] = *gain;
    peak = ScaledPeak(peak, *gain);
  }
  beforeConversion();
  if (stop.Load() != 0) return kFailures.Note(kErrStopped);
  if (gainCount > 0 || peak > 1.0) {
    const OutputConversion scaled(format.validBits, format.containerBits, format.asFloat, peak);
    result = eachBlock([&](unsigned worker, std::uint64_t b) {
      (void)convertBlock(worker, b, scaled, std::span<const double>(gains.data(), gainCount));
    });
    if (result != kOk) return result;
  }
  slot.Put(std::move(out));
  return kOk;
}

namespace {

// FloatToOutput with the peak known or not.
Result ConvertToOutput(BufferSlot& slot, const OutputFormat& format, std::optional<double> peak,
                       const platform::StopWord& stop) {
  AudioBufferPtr in = slot.TakeAs<AudioBuffer>();
  if (!in) return kFailures.Note(kErrNoBuffer);
  if (in->frameCount == 0) return kFailures.Note(kErrEmptySource);
  if (!IsOutputFormat(format.validBits, format.containerBits)) return kFailures.Note(kErrBits);
  // A stop already asked for is answered before the output record is asked for.
  if (stop.Load() != 0) return kFailures.Note(kErrStopped);
  if (const std::optional<Result> inPlace = ConvertInOwnBlock(in, format, peak, stop, slot)) {
    return *inPlace;
  }
  BlockSource source;
  source.frames = in->frameCount;
  source.blockFrames = kReadInPlaceBlockFrames;
  source.samples = in->Frame(0);
  return BlocksToOutput(
      source, in->sampleRate, 0, format, [] {}, stop, slot);
}

}  // namespace

Result FloatToOutput(BufferSlot& slot, unsigned validBits, unsigned containerBits, bool asFloat,
                     const platform::StopWord& stop) {
  return ConvertToOutput(slot, {validBits, containerBits, asFloat}, std::nullopt, stop);
}

Result FloatToOutputWithPeak(BufferSlot& slot, const OutputFormat& format, double peak,
                             const platform::StopWord& stop) {
  return ConvertToOutput(slot, format, peak, stop);
}

}  // namespace lumaro::dsp
