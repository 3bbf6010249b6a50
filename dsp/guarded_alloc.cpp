#include "dsp/guarded_alloc.h"

#include <cstdlib>

#include "platform/os.h"

namespace lumaro::dsp {

bool MemoryGuardAllows(std::uint64_t bytes) noexcept {
  if (bytes <= kGuardThreshold) return true;
  std::uint64_t available = 0;
  if (!platform::AvailablePhysicalMemory(&available)) return false;
  if (bytes > UINT64_MAX - kGuardReserve) return false;
  return bytes + kGuardReserve <= available;
}

void* GuardedAlloc(std::uint64_t bytes) noexcept {
  if (!MemoryGuardAllows(bytes)) return nullptr;
  if (bytes > SIZE_MAX) return nullptr;
  // A zero-byte request still gets a distinct block, as a heap does.
  return std::malloc(bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
}

void GuardedFree(void* block) noexcept { std::free(block); }

}  // namespace lumaro::dsp
