#include "dsp/pack_dop.h"

#include "dsp/bit_reverse.h"
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
// 1-bit samples per channel in one DoP frame: two DSD bytes.

bool IsDopRate(std::uint32_t rate) {
  return rate == 2822400 || rate == 5644800 || rate == 11289600;
}

template <unsigned Bytes>
void PackFrames(const DsdBuffer& dsd, PcmBuffer& out) {
  const unsigned char* in = dsd.Data();
  unsigned char* y = out.Data();
  for (std::uint64_t f = 0; f < out.frameCount; ++f) {
    const std::uint8_t marker = (f & 1) == 0 ? kDopMarker : kDopMarkerAlternate;
    for (unsigned c = 0; c < 2; ++c) {
      if constexpr (Bytes == 4) *y++ = 0;
      *y++ = kBitReversed[in[2 + c]];  // the later byte, lowest
      *y++ = kBitReversed[in[c]];
      *y++ = marker;
    }
    in += 4;
  }
}

}  // namespace

Result PackDop(BufferSlot& slot, unsigned containerBits, const platform::StopWord&) {
  const DsdBufferPtr dsd = slot.TakeAs<DsdBuffer>();
  if (!dsd) return kFailures.Note(kErrNoBuffer);
  if (containerBits != 24 && containerBits != 32) return kFailures.Note(kErrContainer);
  if (!IsDopRate(dsd->dsdRate)) return kFailures.Note(kErrRate);
  if (dsd->length < kMinDopLength) return kFailures.Note(kErrTooShort);
  const std::uint64_t frames = (dsd->length / 2) & ~std::uint64_t{1};
  PcmBufferPtr out;
  if (NewPcmBufferToOverwrite(out, kPcmInteger, 2, static_cast<std::uint8_t>(containerBits),
                              dsd->dsdRate / kDopBitsPerFrame, frames) != kOk) {
    return kFailures.Note(kErrOutput);
  }
  if (containerBits == 24) {
    PackFrames<3>(*dsd, *out);
  } else {
    PackFrames<4>(*dsd, *out);
  }
  slot.Put(std::move(out));
  return kOk;
}

}  // namespace lumaro::dsp
