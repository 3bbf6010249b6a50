#include "dsp/reverse_dsd_bits.h"

#include "dsp/bit_reverse.h"

namespace lumaro::dsp {

void ReverseDsdBits(BufferSlot& slot) noexcept {
  DsdBuffer* dsd = slot.Get<DsdBuffer>();
  if (dsd == nullptr) return;
  unsigned char* p = dsd->Data();
  const std::uint64_t bytes = dsd->length * 2;
  for (std::uint64_t i = 0; i < bytes; ++i) p[i] = kBitReversed[p[i]];
}

}  // namespace lumaro::dsp
