#include "dsp/reverse_dsd_bits.h"

#include "dsp/bit_reverse.h"

namespace lumaro::dsp {

void ReverseDsdBits(BufferSlot& slot) noexcept {
  DsdBuffer* dsd = slot.Get<DsdBuffer>();
  if (dsd == nullptr) return;
  ReverseBitsOf(dsd->Data(), dsd->Data(), dsd->length * 2);
}

}  // namespace lumaro::dsp
