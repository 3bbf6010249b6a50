#include "dsp/pcm_to_float.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "dsp/guarded_alloc.h"
#include "dsp/pages_ahead.h"
#include "dsp/parallel_for.h"
#include "dsp/vector_unit.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNotPcm = FirstCode(FailureSite::kPcmToFloat),
  kErrFormat,
  kErrChannels,
  kErrBits,
  kErrRate,
  kErrZeroFrames,
  kErrNoConversion,
  kErrNoMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kPcmToFloat,
    kErrNoMemory,
    {"pcm-to-float without a PCM record", "pcm-to-float sample format",
     "pcm-to-float channel count", "pcm-to-float width", "pcm-to-float sample rate",
     "pcm-to-float without frames", "pcm-to-float conversion unknown", "pcm-to-float output"}};

// An integer sample placed in the top bits of a signed 32-bit word, times this, is full scale 1.0.
constexpr double kInt32Scale = 1.0 / 2147483648.0;  // 2^-31
constexpr int kUnsigned8Zero = 128;
constexpr std::uint32_t kTopThreeBytes = 0xFFFFFF00U;
// Frames converted between two looks at the stop word: a few microseconds of work.
constexpr std::uint64_t kRunFrames = 4096;
// Bytes a conversion may read past its last frame: a 24-bit group of four frames is loaded as two
// 16-byte halves, the second starting 12 bytes in.
constexpr std::uint64_t kBytesReadPastTheEnd = 4;

double Finite(double value) { return std::isfinite(value) ? value : 0.0; }

template <class Sample>
Sample LoadLe(const unsigned char* p) {
  Sample value;
  std::memcpy(&value, p, sizeof value);  // the hosts we build for are little-endian
  return value;
}

// Converts one sample of a layout; `p` points at its first byte.
template <std::uint16_t Format, unsigned Bits>
double ConvertSample(const unsigned char* p) {
  if constexpr (Format == kPcmInteger && Bits == 8) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0] - kUnsigned8Zero) << 24) *
           kInt32Scale;
  } else if constexpr (Format == kPcmInteger && Bits == 16) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(LoadLe<std::uint16_t>(p)) << 16) *
           kInt32Scale;
  } else if constexpr (Format == kPcmInteger && Bits == 24) {
    // The sample's three bytes are the top of the little-endian word that starts one byte
    // earlier: one load instead of three. That byte is always there, the record's lead-in (or the
    // sample before) lies in front of every sample.
    const std::uint32_t word = LoadLe<std::uint32_t>(p - 1) & kTopThreeBytes;
    return static_cast<std::int32_t>(word) * kInt32Scale;
  } else if constexpr (Format == kPcmInteger && Bits == 32) {
    return LoadLe<std::int32_t>(p) * kInt32Scale;
  } else if constexpr (Format == kPcmFloat && Bits == 32) {
    return Finite(static_cast<double>(LoadLe<float>(p)));
  } else {
    static_assert(Format == kPcmFloat && Bits == 64);
    return Finite(LoadLe<double>(p));
  }
}

#if defined(LUMARO_AVX2_KERNELS)
// Four 32-bit words, each a sample in the top bits, as four samples.
LUMARO_AVX2 inline __m256d ScaledWords(__m128i words) {
  return _mm256_mul_pd(_mm256_cvtepi32_pd(words), _mm256_set1_pd(kInt32Scale));
}

// `value` where it is finite, else 0.
LUMARO_AVX2 inline __m256d FiniteOnly(__m256d value) {
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  const __m256d finite =
      _mm256_cmp_pd(_mm256_and_pd(value, magnitude), _mm256_set1_pd(HUGE_VAL), _CMP_LT_OQ);
  return _mm256_and_pd(value, finite);
}

// Stereo frames of a layout four at a time while four remain; answers the frames converted. The
// 24-bit loads reach four bytes past the last sample: the record's lead-in lies there.
template <std::uint16_t Format, unsigned Bits>
LUMARO_AVX2 std::uint64_t ConvertStereoAvx2(const unsigned char* source, double* out,
                                            std::uint64_t frames) {
  constexpr std::uint64_t kFrames = 4;
  constexpr unsigned kStep = Bits / 8 * 2 * kFrames;
  // Each 24-bit sample's three bytes in the top of a word; the same in both halves.
  const __m256i spread = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  std::uint64_t f = 0;
  for (; f + kFrames <= frames; f += kFrames, source += kStep, out += 2 * kFrames) {
    PrefetchAhead(source, kStep);
    __m256d first;
    __m256d second;
    if constexpr (Format == kPcmInteger && Bits == 16) {
      const __m256i words = _mm256_slli_epi32(
          _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source))), 16);
      first = ScaledWords(_mm256_castsi256_si128(words));
      second = ScaledWords(_mm256_extracti128_si256(words, 1));
    } else if constexpr (Format == kPcmInteger && Bits == 24) {
      const __m256i bytes =
          _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 12)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(source)));
      const __m256i words = _mm256_shuffle_epi8(bytes, spread);
      first = ScaledWords(_mm256_castsi256_si128(words));
      second = ScaledWords(_mm256_extracti128_si256(words, 1));
    } else if constexpr (Format == kPcmInteger && Bits == 32) {
      first = ScaledWords(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source)));
      second = ScaledWords(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16)));
    } else if constexpr (Format == kPcmFloat && Bits == 32) {
      first = FiniteOnly(_mm256_cvtps_pd(_mm_loadu_ps(reinterpret_cast<const float*>(source))));
      second =
          FiniteOnly(_mm256_cvtps_pd(_mm_loadu_ps(reinterpret_cast<const float*>(source + 16))));
    } else {
      static_assert(Format == kPcmFloat && Bits == 64);
      first = FiniteOnly(_mm256_loadu_pd(reinterpret_cast<const double*>(source)));
      second = FiniteOnly(_mm256_loadu_pd(reinterpret_cast<const double*>(source + 32)));
    }
    _mm256_storeu_pd(out, first);
    _mm256_storeu_pd(out + 4, second);
  }
  return f;
}
#endif

template <std::uint16_t Format, unsigned Bits, unsigned Channels>
void ConvertRun(const unsigned char* source, double* out, std::uint64_t frames) {
  constexpr unsigned kBytes = Bits / 8;
  std::uint64_t i = 0;
#if defined(LUMARO_AVX2_KERNELS)
  if constexpr (Channels == 2 && Bits > 8) {
    if (HasAvx2()) {
      i = ConvertStereoAvx2<Format, Bits>(source, out, frames);
      source += i * kBytes * Channels;
      out += 2 * i;
    }
  }
#endif
  for (; i < frames; ++i) {
    const double left = ConvertSample<Format, Bits>(source);
    const double right = Channels == 1 ? left : ConvertSample<Format, Bits>(source + kBytes);
    out[0] = left;
    out[1] = right;
    source += kBytes * Channels;
    out += 2;
  }
}

template <std::uint16_t Format, unsigned Bits>
void ConvertLayout(unsigned channels, const unsigned char* source, double* out,
                   std::uint64_t frames) {
  if (channels == 1) {
    ConvertRun<Format, Bits, 1>(source, out, frames);
  } else {
    ConvertRun<Format, Bits, 2>(source, out, frames);
  }
}

bool HasConversion(const PcmBuffer& pcm) {
  if (pcm.sampleFormat == kPcmInteger) {
    return pcm.bits == 8 || pcm.bits == 16 || pcm.bits == 24 || pcm.bits == 32;
  }
  return pcm.bits == 32 || pcm.bits == 64;
}

Result CheckHeader(const PcmBuffer& pcm) {
  if (pcm.sampleFormat != kPcmInteger && pcm.sampleFormat != kPcmFloat)
    return kFailures.Note(kErrFormat);
  if (pcm.channels != 1 && pcm.channels != 2) return kFailures.Note(kErrChannels);
  if (pcm.bits != 8 && pcm.bits != 16 && pcm.bits != 24 && pcm.bits != 32 && pcm.bits != 64) {
    return kFailures.Note(kErrBits);
  }
  if (pcm.sampleRate < kMinSampleRate) return kFailures.Note(kErrRate);
  if (pcm.frameCount == 0) return kFailures.Note(kErrZeroFrames);
  if (!HasConversion(pcm)) return kFailures.Note(kErrNoConversion);
  return kOk;
}

// Converts `frames` frames of `source` (packed frames of `pcm`'s layout, inside the record, so
// that the byte before each sample and the four after the last can be read: its lead-ins) to
// stereo float at `out`.
void ConvertPcmFrames(const PcmBuffer& pcm, const unsigned char* source, double* out,
                      std::uint64_t frames) noexcept {
  const unsigned channels = pcm.channels;
  if (pcm.sampleFormat == kPcmFloat) {
    if (pcm.bits == 32) return ConvertLayout<kPcmFloat, 32>(channels, source, out, frames);
    return ConvertLayout<kPcmFloat, 64>(channels, source, out, frames);
  }
  switch (pcm.bits) {
    case 8:
      return ConvertLayout<kPcmInteger, 8>(channels, source, out, frames);
    case 16:
      return ConvertLayout<kPcmInteger, 16>(channels, source, out, frames);
    case 24:
      return ConvertLayout<kPcmInteger, 24>(channels, source, out, frames);
    default:
      return ConvertLayout<kPcmInteger, 32>(channels, source, out, frames);
  }
}

// Frames [first, end) of `source` (packed frames of `layout`, inside the record) converted to
// `out` (stereo float, frame f at out + 2f) by `workers`, each slice in runs between looks at
// the stop word.
Result ConvertInParallel(const PcmBuffer& layout, const unsigned char* source, double* out,
                         std::uint64_t first, std::uint64_t end, unsigned workers,
                         const platform::StopWord& stop) {
  const std::uint64_t frameBytes = layout.BytesPerFrame();
  return ParallelForOn(end - first, workers, stop, [&](unsigned, Slice slice) {
    for (std::uint64_t done = 0; done < slice.count; done += kRunFrames) {
      if (stop.Load() != 0) return;
      const std::uint64_t f = first + slice.first + done;
      ConvertPcmFrames(layout, source + f * frameBytes, out + 2 * f,
                       std::min(kRunFrames, slice.count - done));
    }
  });
}

// Where the real frames of `layout` start in its block, and where an AudioBuffer's would.
std::uint64_t InputStart(const PcmBuffer& layout) {
  return sizeof(PcmBuffer) + layout.leadIn * layout.BytesPerFrame();
}
constexpr std::uint64_t kOutputStart = sizeof(AudioBuffer) + kPcmLeadIn * kAudioFrameBytes;

// Converts the real frames of `layout`, whose PcmBuffer lies at the front of `block`, to where
// an AudioBuffer in the same block holds them. An AudioBuffer frame and lead-in are wider than any
// other layout's (the headers are the same size), so the outputs of the last frames lie past all
// the input: in levels from the end, every frame whose output starts at or past the last input
// byte still to be read (the last frame's, and the four bytes a 24-bit load reaches beyond) is
// converted at once (a worker per kLevelFramesPerWorker frames, up to every worker); what each
// level writes over was read by the levels before. Each level takes at least 1 − frameBytes / 16
// of the frames left.
Result ConvertInOwnBlock(const PcmBuffer& layout, unsigned char* block,
                         const platform::StopWord& stop) {
  const std::uint64_t inputStart = InputStart(layout);
  auto* out = reinterpret_cast<double*>(block + kOutputStart);
  return InLevelsFromTheEndPagesAhead(
      block + kOutputStart, layout.frameCount, layout.BytesPerFrame(), kBytesReadPastTheEnd,
      kAudioFrameBytes, kOutputStart - inputStart, [&](std::uint64_t first, std::uint64_t end) {
        return ConvertInParallel(layout, block + inputStart, out, first, end,
                                 LevelWorkers(end - first), stop);
      });
}

// PcmToFloat in the PcmBuffer's own block, made long enough for the AudioBuffer without a copy
// (GuardedGrow): the answer, or nullopt when the block cannot grow (then the PcmBuffer is
// untouched and still owned by `pcm`).
std::optional<Result> ConvertInGrownBlock(PcmBufferPtr& pcm, const PcmBuffer& layout,
                                          BufferSlot& slot, const platform::StopWord& stop) {
  void* grown = GrowForLevelsFromTheEnd(pcm.get(), AudioBufferBytes(layout.frameCount, kPcmLeadIn),
                                        InputStart(layout), kOutputStart, layout.BytesPerFrame(),
                                        kBytesReadPastTheEnd, kAudioFrameBytes);
  if (grown == nullptr) return std::nullopt;
  (void)pcm.release();  // the block now lies at `grown`
  RecordPtr<unsigned char> block(static_cast<unsigned char*>(grown));
  if (const Result converted = ConvertInOwnBlock(layout, block.get(), stop); converted != kOk) {
    return converted;
  }
  slot.Put(AudioBufferInBlock(block.release(), layout.sampleRate, layout.frameCount, kPcmLeadIn));
  return kOk;
}

}  // namespace

Result PcmToFloat(BufferSlot& slot, const platform::StopWord& stop) {
  // Step 0: the source leaves the slot and is freed when this scope ends, whatever happens.
  PcmBufferPtr pcm = slot.TakeAs<PcmBuffer>();
  if (!pcm) return kFailures.Note(kErrNotPcm);

  // Step 1: header checks and the new record. Stereo 64-bit float samples lie where the
  // AudioBuffer's would (the same header size and lead-in), so that record becomes the
  // AudioBuffer in place and the pass below converts each sample where it is: the bytes of a new
  // record, without a second block.
  if (const Result checked = CheckHeader(*pcm); checked != kOk) return checked;
  static_assert(sizeof(PcmBuffer) == sizeof(AudioBuffer) && kPcmLeadIn == 48);
  const PcmBuffer layout = *pcm;  // kept: a conversion in place writes over the header
  const unsigned char* source = pcm->Data();
  AudioBufferPtr audio;
  if (layout.sampleFormat == kPcmFloat && layout.bits == 64 && layout.channels == 2 &&
      layout.leadIn == kPcmLeadIn) {
    audio = AudioBufferInBlock(pcm.release(), layout.sampleRate, layout.frameCount, kPcmLeadIn);
  } else if (layout.leadIn == kPcmLeadIn) {
    // Any other layout is narrower: its block grows to the AudioBuffer's where the system can
    // move pages, and the frames are converted there, so no second block is touched.
    if (const std::optional<Result> inPlace = ConvertInGrownBlock(pcm, layout, slot, stop)) {
      return *inPlace;
    }
  }
  if (!audio &&
      NewAudioBufferToOverwrite(audio, layout.sampleRate, layout.frameCount, kPcmLeadIn) != kOk) {
    return kFailures.Note(kErrNoMemory);
  }

  // Step 2: one pass, each worker converting its slice in runs between looks at the stop word.
  const Result converted =
      ConvertInParallel(layout, source, audio->Frame(0), 0, layout.frameCount, WorkerCount(), stop);
  if (converted != kOk) return converted;
  slot.Put(std::move(audio));
  return kOk;
}

}  // namespace lumaro::dsp
