#include "dsp/pack_dop.h"

#include <optional>

#include "dsp/bit_reverse.h"
#include "dsp/guarded_alloc.h"
#include "dsp/pages_ahead.h"
#include "dsp/parallel_for.h"
#include "dsp/vector_unit.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNoBuffer = FirstCode(FailureSite::kPackDop),
  kErrContainer,
  kErrRate,
  kErrTooShort,
  kErrOutput,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kPackDop,
    kErrOutput,
    {"pack-dop without a DSD record", "pack-dop container", "pack-dop rate",
     "pack-dop source too short", "pack-dop output"}};

constexpr std::uint64_t kMinDopLength = 4;
// The byte pairs of one DoP frame: two DSD bytes of each channel.
constexpr std::uint64_t kBytesPerDsdFrame = 4;

bool IsDopRate(std::uint32_t rate) {
  return rate == 2822400 || rate == 5644800 || rate == 11289600;
}

// kBitReversed of 16n for each nibble n: rev(n) in the low nibble.
constexpr std::array<std::uint8_t, 16> kBitReversedHighNibble = [] {
  std::array<std::uint8_t, 16> table{};
  for (unsigned n = 0; n < 16; ++n) table[n] = kBitReversed[16 * n];
  return table;
}();

// The DoP frame f's marker: kDopMarker in even frames, the alternate in odd ones.
std::uint8_t MarkerOf(std::uint64_t f) { return (f & 1) == 0 ? kDopMarker : kDopMarkerAlternate; }

#if defined(LUMARO_AVX2_KERNELS)
// Frames [f, end) four at a time while four remain, from an even frame f (the markers of the four
// are then fixed); answers where it stopped. The bits of each byte are reversed by two nibble
// lookups, the same table as kBitReversed.
template <unsigned Bytes>
LUMARO_AVX2 std::uint64_t PackFramesAvx2(const unsigned char* in, unsigned char* y, std::uint64_t f,
                                         std::uint64_t end) {
  constexpr std::uint64_t kFrames = 4;
  // rev(n) << 4 and rev(n) for each nibble n: bytes n and 16n of the table.
  const __m128i reversedLow =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kBitReversed.data()));
  const __m128i reversedHigh =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kBitReversedHighNibble.data()));
  const __m128i nibble = _mm_set1_epi8(0x0F);
  constexpr char A = static_cast<char>(kDopMarker);
  constexpr char B = static_cast<char>(kDopMarkerAlternate);
  // Per frame of byte pairs l0 r0 l1 r1: rev(l1) rev(l0) M rev(r1) rev(r0) M, after a zero byte
  // each in a 32-bit container. The first half makes frames 0 and 1, the second 2 and 3.
  const __m256i place =
      Bytes == 4 ? _mm256_setr_epi8(-1, 2, 0, -1, -1, 3, 1, -1, -1, 6, 4, -1, -1, 7, 5, -1, -1, 10,
                                    8, -1, -1, 11, 9, -1, -1, 14, 12, -1, -1, 15, 13, -1)
                 : _mm256_setr_epi8(2, 0, -1, 3, 1, -1, 6, 4, -1, 7, 5, -1, -1, -1, -1, -1, 10, 8,
                                    -1, 11, 9, -1, 14, 12, -1, 15, 13, -1, -1, -1, -1, -1);
  const __m256i markers = Bytes == 4
                              ? _mm256_setr_epi8(0, 0, 0, A, 0, 0, 0, A, 0, 0, 0, B, 0, 0, 0, B, 0,
                                                 0, 0, A, 0, 0, 0, A, 0, 0, 0, B, 0, 0, 0, B)
                              : _mm256_setr_epi8(0, 0, A, 0, 0, A, 0, 0, B, 0, 0, B, 0, 0, 0, 0, 0,
                                                 0, A, 0, 0, A, 0, 0, B, 0, 0, B, 0, 0, 0, 0);
  // The 24-bit halves' twelve bytes side by side.
  const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  for (; f + kFrames <= end; f += kFrames) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * f));
    const __m128i reversed = _mm_or_si128(
        _mm_shuffle_epi8(reversedLow, _mm_and_si128(bytes, nibble)),
        _mm_shuffle_epi8(reversedHigh, _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble)));
    const __m256i frames =
        _mm256_or_si256(_mm256_shuffle_epi8(_mm256_broadcastsi128_si256(reversed), place), markers);
    unsigned char* out = y + 2 * Bytes * f;
    if constexpr (Bytes == 4) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), frames);
    } else {
      const __m256i packed = _mm256_permutevar8x32_epi32(frames, join);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
    }
  }
  return f;
}
#endif

// DoP frames [first, first + count) at `y` (frame 0's bytes) from the byte pairs at `in` (frame
// 0's): frame f reads in[4f, 4f + 4) and writes y[2 × Bytes × f, 2 × Bytes × (f + 1)).
template <unsigned Bytes>
void PackFrames(const unsigned char* in, unsigned char* y, std::uint64_t first,
                std::uint64_t count) {
  const std::uint64_t end = first + count;
  std::uint64_t f = first;
  const auto packOne = [&](std::uint64_t frame) {
    unsigned char* at = y + 2 * Bytes * frame;
    const unsigned char* pairs = in + 4 * frame;
    for (unsigned c = 0; c < 2; ++c) {
      if constexpr (Bytes == 4) *at++ = 0;
      *at++ = kBitReversed[pairs[2 + c]];  // the later byte, lowest
      *at++ = kBitReversed[pairs[c]];
      *at++ = MarkerOf(frame);
    }
  };
#if defined(LUMARO_AVX2_KERNELS)
  if (HasAvx2()) {
    if ((f & 1) != 0 && f < end) packOne(f++);
    f = PackFramesAvx2<Bytes>(in, y, f, end);
  }
#endif
  for (; f < end; ++f) packOne(f);
}

// DoP frames [first, end) at `y` from the byte pairs at `in`, on `workers`.
Result PackInParallel(unsigned containerBits, const unsigned char* in, unsigned char* y,
                      std::uint64_t first, std::uint64_t end, unsigned workers) {
  // A stop request is not looked at: the word the workers poll is never set.
  const platform::StopWord never;
  return ParallelForOn(end - first, workers, never, [&](unsigned, Slice slice) {
    if (containerBits == 24) {
      PackFrames<3>(in, y, first + slice.first, slice.count);
    } else {
      PackFrames<4>(in, y, first + slice.first, slice.count);
    }
  });
}

// PackDop in the DsdBuffer's own block, made long enough for the DoP record without a copy
// (GuardedGrow): the answer, or nullopt when the block cannot grow (the DsdBuffer is then
// untouched and still owned by `dsd`). A DoP frame is wider than its four bytes of byte pairs, and
// the DoP record's frames start past the DsdBuffer's, so the outputs of the last frames lie past
// all the input: in levels from the end, every frame whose output starts at or past the end of
// the input still to be read is packed at once (a worker per kLevelFramesPerWorker frames, up to
// every worker); what each level writes over was read by the levels before. The header and the
// lead-ins are written last.
std::optional<Result> PackInGrownBlock(DsdBufferPtr& dsd, unsigned containerBits,
                                       std::uint64_t frames, BufferSlot& slot) {
  const auto bits = static_cast<std::uint8_t>(containerBits);
  const std::uint32_t rate = dsd->dsdRate / kDopBitsPerFrame;
  const std::uint64_t frameBytes = 2 * (containerBits / 8);
  const auto inputStart =
      static_cast<std::uint64_t>(dsd->Data() - reinterpret_cast<const unsigned char*>(dsd.get()));
  const std::uint64_t outputStart = sizeof(PcmBuffer) + kPcmLeadIn * frameBytes;
  void* grown = GrowForLevelsFromTheEnd(dsd.get(), PcmBufferBytes(2, bits, frames), inputStart,
                                        outputStart, kBytesPerDsdFrame, 0, frameBytes);
  if (grown == nullptr) return std::nullopt;
  (void)dsd.release();  // the block now lies at `grown`
  RecordPtr<unsigned char> block(static_cast<unsigned char*>(grown));
  const std::uint64_t gap = outputStart - inputStart;
  if (const Result packed = InLevelsFromTheEndPagesAhead(
          block.get() + outputStart, frames, kBytesPerDsdFrame, 0, frameBytes, gap,
          [&](std::uint64_t first, std::uint64_t end) {
            return PackInParallel(containerBits, block.get() + inputStart,
                                  block.get() + outputStart, first, end, LevelWorkers(end - first));
          });
      packed != kOk) {
    return packed;
  }
  slot.Put(PcmBufferInBlock(block.release(), kPcmInteger, 2, bits, rate, frames));
  return kOk;
}

}  // namespace

Result PackDop(BufferSlot& slot, unsigned containerBits, const platform::StopWord&) {
  DsdBufferPtr dsd = slot.TakeAs<DsdBuffer>();
  if (!dsd) return kFailures.Note(kErrNoBuffer);
  if (containerBits != 24 && containerBits != 32) return kFailures.Note(kErrContainer);
  if (!IsDopRate(dsd->dsdRate)) return kFailures.Note(kErrRate);
  if (dsd->length < kMinDopLength) return kFailures.Note(kErrTooShort);
  const std::uint64_t frames = (dsd->length / 2) & ~std::uint64_t{1};
  // A large record is packed in its own block where the system can move its pages, so that only
  // the DoP record's extra length is new memory.
  if (const std::optional<Result> inPlace = PackInGrownBlock(dsd, containerBits, frames, slot)) {
    return *inPlace;
  }
  PcmBufferPtr out;
  if (NewPcmBufferToOverwrite(out, kPcmInteger, 2, static_cast<std::uint8_t>(containerBits),
                              dsd->dsdRate / kDopBitsPerFrame, frames) != kOk) {
    return kFailures.Note(kErrOutput);
  }
  const Result packed =
      PackInParallel(containerBits, dsd->Data(), out->Data(), 0, frames, WorkerCount());
  if (packed != kOk) return packed;
  slot.Put(std::move(out));
  return kOk;
}

}  // namespace lumaro::dsp
