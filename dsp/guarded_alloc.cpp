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

namespace {
// Blocks from this size on are aligned to, and rounded up to, the large-page size and advised to
// use large pages: a whole track then costs a few hundred page faults instead of hundreds of
// thousands, which would otherwise take more time than converting it.
constexpr std::uint64_t kLargePage = 2ULL << 20;
constexpr std::uint64_t kLargeBlock = 16 * kLargePage;
}  // namespace

void* GuardedAlloc(std::uint64_t bytes) noexcept {
  if (!MemoryGuardAllows(bytes)) return nullptr;
  if (bytes > SIZE_MAX - kLargePage) return nullptr;
  if (bytes >= kLargeBlock) {
    const std::uint64_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void* block = std::aligned_alloc(kLargePage, static_cast<std::size_t>(rounded));
    if (block != nullptr) platform::AdviseLargePages(block, rounded);
    return block;
  }
  // A zero-byte request still gets a distinct block, as a heap does.
  return std::malloc(bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
}

void GuardedFree(void* block) noexcept { std::free(block); }

}  // namespace lumaro::dsp
