#include "dsp/swap_to_big_endian.h"

#include <utility>

namespace lumaro::dsp {
namespace {

constexpr unsigned char SignFill(unsigned char top) { return (top & 0x80) != 0 ? 0xFF : 0x00; }

}  // namespace

void SwapToBigEndian(BufferSlot& slot, unsigned validBits) noexcept {
  PcmBuffer* pcm = slot.Get<PcmBuffer>();
  if (pcm == nullptr) return;
  unsigned char* p = pcm->Data();
  const std::uint64_t samples = pcm->frameCount * pcm->channels;
  switch (pcm->bits) {
    case 16:
      for (std::uint64_t i = 0; i < samples; ++i, p += 2) std::swap(p[0], p[1]);
      return;
    case 24:
      for (std::uint64_t i = 0; i < samples; ++i, p += 3) std::swap(p[0], p[2]);
      return;
    case 32:
      break;
    default:
      return;
  }
  switch (validBits) {
    case 32:
      for (std::uint64_t i = 0; i < samples; ++i, p += 4) {
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
      }
      return;
    case 24:
      for (std::uint64_t i = 0; i < samples; ++i, p += 4) {
        const unsigned char b0 = p[1], b1 = p[2], b2 = p[3];
        p[0] = SignFill(b2);
        p[1] = b2;
        p[2] = b1;
        p[3] = b0;
      }
      return;
    case 16:
      for (std::uint64_t i = 0; i < samples; ++i, p += 4) {
        const unsigned char b0 = p[2], b1 = p[3];
        p[0] = p[1] = SignFill(b1);
        p[2] = b1;
        p[3] = b0;
      }
      return;
    default:
      return;
  }
}

}  // namespace lumaro::dsp
