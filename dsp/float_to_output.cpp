#include "dsp/float_to_output.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/clip_guard.h"
#include "dsp/parallel_for.h"
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
};
constexpr platform::FailureNames kFailures{
    FailureSite::kFloatToOutput,
    kErrOutput,
    {"float-to-output without a record", "float-to-output empty source", "float-to-output width",
     "float-to-output output"}};

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

// Frames [first, first + count): each value shifted left by `shift` (left-justified in the
// container) and written as its low `bytes` bytes, little-endian.
template <unsigned Bytes>
void ConvertInteger(const AudioBuffer& in, PcmBuffer& out, std::uint64_t first, std::uint64_t count,
                    double k, double limit, unsigned shift, const platform::StopWord& stop) {
  const double* x = in.Frame(static_cast<std::int64_t>(first));
  unsigned char* y = out.Data() + first * 2 * Bytes;
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) return;
    const std::uint64_t end = std::min(count, done + kStopPollFrames);
    for (std::uint64_t f = done; f < end; ++f) {
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

void ConvertFloat(const AudioBuffer& in, PcmBuffer& out, std::uint64_t first, std::uint64_t count,
                  double gain, const platform::StopWord& stop) {
  const double* x = in.Frame(static_cast<std::int64_t>(first));
  unsigned char* y = out.Data() + first * 8;
  for (std::uint64_t done = 0; done < count; done += kStopPollFrames) {
    if (stop.Load() != 0) return;
    const std::uint64_t end = std::min(count, done + kStopPollFrames);
    for (std::uint64_t i = 2 * done; i < 2 * end; ++i) {
      const float sample = static_cast<float>(x[i] * gain);
      std::memcpy(y + 4 * i, &sample, 4);
    }
  }
}

}  // namespace

Result FloatToOutput(BufferSlot& slot, unsigned validBits, unsigned containerBits, bool asFloat,
                     const platform::StopWord& stop) {
  const AudioBufferPtr in = slot.TakeAs<AudioBuffer>();
  if (!in) return kFailures.Note(kErrNoBuffer);
  if (in->frameCount == 0) return kFailures.Note(kErrEmptySource);
  if (!IsOutputWidth(validBits) || !IsOutputWidth(containerBits) || validBits > containerBits) {
    return kFailures.Note(kErrBits);
  }
  const bool writeFloat = asFloat && validBits == 32 && containerBits == 32;
  PcmBufferPtr out;
  if (NewPcmBufferToOverwrite(out, writeFloat ? kPcmFloat : kPcmInteger, 2,
                              static_cast<std::uint8_t>(containerBits), in->sampleRate,
                              in->frameCount) != kOk) {
    return kFailures.Note(kErrOutput);
  }

  std::array<double, kMaxWorkerSlots> peaks{};
  Result result = ParallelFor(in->frameCount, stop, [&](unsigned worker, Slice slice) {
    peaks[worker] = PeakOfFrames(*in, slice.first, slice.count, stop);
  });
  if (result != kOk) return result;
  const double peak = *std::max_element(peaks.begin(), peaks.end());
  const double gain = peak > 1.0 ? 1.0 / peak : 1.0;

  const double limit = FullScale(validBits);
  const double k = gain * limit;
  const unsigned shift = containerBits - validBits;
  result = ParallelFor(in->frameCount, stop, [&](unsigned, Slice slice) {
    if (writeFloat) {
      ConvertFloat(*in, *out, slice.first, slice.count, gain, stop);
    } else if (containerBits == 16) {
      ConvertInteger<2>(*in, *out, slice.first, slice.count, k, limit, shift, stop);
    } else if (containerBits == 24) {
      ConvertInteger<3>(*in, *out, slice.first, slice.count, k, limit, shift, stop);
    } else {
      ConvertInteger<4>(*in, *out, slice.first, slice.count, k, limit, shift, stop);
    }
  });
  if (result != kOk) return result;
  slot.Put(std::move(out));
  return kOk;
}

}  // namespace lumaro::dsp
