#include "dsp/guarded_alloc.h"

#include <cstddef>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/failure.h"
#include "platform/os.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrGuardRefused = FirstCode(FailureSite::kMemoryGuard),
  kErrNoMemoryStatus,
  kErrAddressSpace,
  kErrHeapRefused,
};
constexpr platform::FailureNames kFailures{FailureSite::kMemoryGuard,
                                           kErrHeapRefused,
                                           {"memory guard refused", "memory status unreadable",
                                            "too large for the address space", "heap refused"}};

// Why the guard refuses `bytes`, or kOk; `available` is set when the memory status was read.
Result GuardAnswer(std::uint64_t bytes, std::uint64_t* available) noexcept {
  if (bytes <= kGuardThreshold) return kOk;
  if (!platform::AvailablePhysicalMemory(available)) return kErrNoMemoryStatus;
  if (bytes > UINT64_MAX - kGuardReserve) return kErrGuardRefused;
  return bytes + kGuardReserve <= *available ? kOk : kErrGuardRefused;
}

// Notes a refused request with its size (and the memory available when it was read).
void NoteRefused(Result code, std::uint64_t bytes, std::uint64_t available) noexcept {
  try {
    std::string detail = platform::FormatBytes(bytes);
    if (code == kErrGuardRefused) detail += " (" + platform::FormatBytes(available) + " available)";
    (void)kFailures.Note(code, detail);
  } catch (const std::exception&) {
  }
}

}  // namespace

bool MemoryGuardAllows(std::uint64_t bytes) noexcept {
  std::uint64_t available = 0;
  return GuardAnswer(bytes, &available) == kOk;
}

namespace {
// Blocks from this size on are aligned to, and rounded up to, the large-page size and advised to
// use large pages: a whole track then costs a few hundred page faults instead of hundreds of
// thousands, which would otherwise take more time than converting it.
constexpr std::uint64_t kLargePage = 2ULL << 20;
constexpr std::uint64_t kLargeBlock = 16 * kLargePage;

}  // namespace

void* GuardedAlloc(std::uint64_t bytes) noexcept {
  std::uint64_t available = 0;
  if (const Result refused = GuardAnswer(bytes, &available); refused != kOk) {
    NoteRefused(refused, bytes, available);
    return nullptr;
  }
  if (bytes > SIZE_MAX - kLargePage) {
    NoteRefused(kErrAddressSpace, bytes, available);
    return nullptr;
  }
  void* block = nullptr;
  if (bytes >= kLargeBlock) {
    const std::uint64_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    block = platform::AllocateBlock(static_cast<std::size_t>(rounded), kLargePage);
    if (block != nullptr) platform::AdviseLargePages(block, rounded);
  } else {
    // A zero-byte request still gets a distinct block, as a heap does.
    block = platform::AllocateBlock(bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
  }
  if (block == nullptr) NoteRefused(kErrHeapRefused, bytes, available);
  return block;
}

void GuardedFree(void* block) noexcept { platform::FreeBlock(block); }

}  // namespace lumaro::dsp
