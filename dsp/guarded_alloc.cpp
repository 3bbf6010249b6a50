#include "dsp/guarded_alloc.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <utility>

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

// Blocks from this size on are mapped straight from the system, aligned to and rounded up to the
// large-page size, and advised to use large pages: a whole track then costs a few hundred page
// faults instead of hundreds of thousands, which would otherwise take more time than converting
// it.
constexpr std::uint64_t kLargePage = 2ULL << 20;
constexpr std::uint64_t kLargeBlock = 16 * kLargePage;
// Large blocks alive at once (far more than a play list of whole tracks reaches before the guard
// refuses), and freed ones kept for the next request.
constexpr std::size_t kLiveLargeBlocks = 4096;
constexpr std::size_t kKeptLargeBlocks = 4;
// No system maps at a finer grain than this.
constexpr std::uintptr_t kSmallestPage = 4096;

// The mapped size of a large block of `bytes` (below UINT64_MAX - kLargePage): whole large pages.
constexpr std::uint64_t LargeBlockBytes(std::uint64_t bytes) {
  return (bytes + kLargePage - 1) / kLargePage * kLargePage;
}

// False for most heap blocks: a large block starts a mapping, so it is page-aligned, and a heap
// block seldom is, which then skips the lock and the search of the large blocks.
bool MayBeLarge(const void* block) {
  return block != nullptr && reinterpret_cast<std::uintptr_t>(block) % kSmallestPage == 0;
}

// The large blocks: every one alive, with its mapped size, and the few freed ones kept. The first
// touch of fresh memory costs the system a page clear (and, in a virtual machine, often a fault in
// the host as well); a stage's output written into the pages its predecessor's input has just
// freed costs neither. A kept block serves the next request it holds (the smallest such), and
// the rest of it stays mapped behind the block it serves, as slack the block can grow into (the
// input conversion grows the record the reader filled); a request that maps gives back every
// kept block and the slack first, so resident memory never exceeds what it was when the last
// block was mapped. Any thread; one lock.
class LargeBlocks {
 public:
  // A block of exactly `bytes` (a multiple of kLargePage). Failure answer: nullptr.
  void* Take(std::uint64_t bytes) noexcept {
    const std::lock_guard lock(mutex_);
    const Entry kept = TakeKept(bytes);
    Entry taken{kept.block, bytes, kept.mapped};
    if (taken.block != nullptr) {
      ReleaseSlack();  // one block at a time has slack
    } else {
      // Nothing new is mapped before the kept blocks and the slack go back, so that what is
      // resident never exceeds what it was when the last block was mapped.
      ReleaseKept();
      taken.block = platform::MapBlock(bytes, kLargePage);
      if (taken.block == nullptr) return nullptr;
      platform::AdviseLargePages(taken.block, bytes);
      taken.mapped = bytes;
    }
    for (Entry& e : live_) {
      if (e.block == nullptr) {
        e = taken;
        if (e.mapped > e.bytes) slack_ = &e;
        return taken.block;
      }
    }
    platform::UnmapBlock(taken.block, taken.mapped);
    return nullptr;
  }

  // Keeps `block` when it is a live large block (answer true), with its slack: in a free place,
  // or in place of the smallest kept one, which goes back to the system; one shrunk below the
  // large size goes back itself. False for any other block.
  bool Keep(void* block) noexcept {
    const std::lock_guard lock(mutex_);
    Entry* const e = Live(block);
    if (e == nullptr) return false;
    if (slack_ == e) slack_ = nullptr;
    if (e->mapped < kLargeBlock) {
      // Shrunk below the large size: it would serve no large request.
      platform::UnmapBlock(e->block, e->mapped);
      *e = Entry{};
      return true;
    }
    Entry* place = &kept_[0];
    for (Entry& k : kept_) {
      if (k.block == nullptr || (place->block != nullptr && k.mapped < place->mapped)) place = &k;
    }
    if (place->block != nullptr) platform::UnmapBlock(place->block, place->mapped);
    *place = Entry{e->block, e->mapped, e->mapped};
    *e = Entry{};
    return true;
  }

  // The live large block `block` made `bytes` long (a multiple of kLargePage): into its slack,
  // else with its pages moved, not copied, onto the start of a new mapping. Failure answer:
  // nullptr, the block unchanged (also for any other block).
  void* Grow(void* block, std::uint64_t bytes) noexcept {
    const std::lock_guard lock(mutex_);
    Entry* const e = Live(block);
    if (e == nullptr) return nullptr;
    if (bytes <= e->mapped) {
      e->bytes = std::max(e->bytes, bytes);
      return block;
    }
    // Where pages cannot move, the kept blocks stay for the new block the caller takes instead.
    if (!platform::CanMovePages()) return nullptr;
    // The kept blocks and the slack (this block's too, before its pages move) go back before
    // anything is mapped, as for a new block.
    ReleaseKept();
    void* grown = platform::GrowMappedBlock(e->block, e->bytes, bytes, kLargePage);
    if (grown == nullptr) return nullptr;
    platform::AdviseLargePages(grown, bytes);
    *e = Entry{grown, bytes, bytes};
    return grown;
  }

  // Gives back what lies past the first `keep` bytes (a multiple of kLargePage) of the live
  // large block `block`, and its slack; nothing for any other block.
  void Shrink(void* block, std::uint64_t keep) noexcept {
    const std::lock_guard lock(mutex_);
    Entry* const e = Live(block);
    if (e == nullptr) return;
    if (slack_ == e) slack_ = nullptr;
    // One large page at least stays: a block shrunk to nothing would leave its entry behind an
    // address the system may hand out again.
    const std::uint64_t bytes = std::max(std::min(keep, e->bytes), kLargePage);
    if (bytes < e->mapped) platform::ShrinkMappedBlock(e->block, e->mapped, bytes);
    e->bytes = e->mapped = bytes;
  }

  void Release() noexcept {
    const std::lock_guard lock(mutex_);
    ReleaseKept();
  }

  // The kept blocks' bytes and the slack's.
  std::uint64_t KeptBytes() noexcept {
    const std::lock_guard lock(mutex_);
    std::uint64_t total = slack_ != nullptr ? slack_->mapped - slack_->bytes : 0;
    for (const Entry& k : kept_) total += k.mapped;
    return total;
  }

 private:
  // A block of `bytes`, mapped `mapped` bytes long: the pages past `bytes` are slack (kept
  // blocks have none).
  struct Entry {
    void* block = nullptr;
    std::uint64_t bytes = 0;
    std::uint64_t mapped = 0;
  };

  Entry* Live(const void* block) noexcept {
    for (Entry& e : live_) {
      if (e.block == block) return &e;
    }
    return nullptr;
  }

  // The smallest kept block that holds `bytes`, no longer kept; an empty entry when none holds
  // them.
  Entry TakeKept(std::uint64_t bytes) noexcept {
    Entry* fit = nullptr;
    for (Entry& k : kept_) {
      if (k.block != nullptr && k.mapped >= bytes && (fit == nullptr || k.mapped < fit->mapped)) {
        fit = &k;
      }
    }
    return fit == nullptr ? Entry{} : std::exchange(*fit, Entry{});
  }

  // Every kept block and the slack back to the system.
  void ReleaseKept() noexcept {
    for (Entry& k : kept_) {
      if (k.block != nullptr) platform::UnmapBlock(k.block, k.mapped);
      k = Entry{};
    }
    ReleaseSlack();
  }

  void ReleaseSlack() noexcept {
    if (slack_ != nullptr) {
      platform::ShrinkMappedBlock(slack_->block, slack_->mapped, slack_->bytes);
      slack_->mapped = slack_->bytes;
      slack_ = nullptr;
    }
  }

  std::mutex mutex_;
  std::array<Entry, kLiveLargeBlocks> live_{};
  std::array<Entry, kKeptLargeBlocks> kept_{};
  Entry* slack_ = nullptr;  // the one live block with slack, if any
};

// Process-wide, as the heap is; never destroyed, so that a block freed during exit finds it.
LargeBlocks& Large() noexcept {
  static LargeBlocks* const blocks = new LargeBlocks;
  return *blocks;
}

// The guard's answer, asked again once the kept blocks are given back when it refuses: they
// count as used to the system, and without them the request may fit.
Result GuardAnswerGivingBack(std::uint64_t bytes, std::uint64_t* available) noexcept {
  const Result refused = GuardAnswer(bytes, available);
  if (refused != kErrGuardRefused || Large().KeptBytes() == 0) return refused;
  Large().Release();
  return GuardAnswer(bytes, available);
}

// GuardAnswerGivingBack with a refusal noted.
Result NotedGuardAnswer(std::uint64_t bytes, std::uint64_t* available) noexcept {
  const Result refused = GuardAnswerGivingBack(bytes, available);
  if (refused != kOk) NoteRefused(refused, bytes, *available);
  return refused;
}

}  // namespace

bool MemoryGuardAllows(std::uint64_t bytes) noexcept {
  std::uint64_t available = 0;
  return GuardAnswerGivingBack(bytes, &available) == kOk;
}

Result MemoryGuardAnswer(std::uint64_t bytes) noexcept {
  std::uint64_t available = 0;
  return NotedGuardAnswer(bytes, &available);
}

void* GuardedAlloc(std::uint64_t bytes) noexcept {
  std::uint64_t available = 0;
  if (NotedGuardAnswer(bytes, &available) != kOk) return nullptr;
  if (bytes > SIZE_MAX - kLargePage) {
    NoteRefused(kErrAddressSpace, bytes, available);
    return nullptr;
  }
  void* block = nullptr;
  if (bytes >= kLargeBlock) {
    block = Large().Take(LargeBlockBytes(bytes));
  } else {
    // A zero-byte request still gets a distinct block, as a heap does.
    block = platform::AllocateBlock(bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
  }
  if (block == nullptr) NoteRefused(kErrHeapRefused, bytes, available);
  return block;
}

void GuardedFree(void* block) noexcept {
  if (block == nullptr) return;
  if (!MayBeLarge(block) || !Large().Keep(block)) platform::FreeBlock(block);
}

void* GuardedGrow(void* block, std::uint64_t bytes) noexcept {
  std::uint64_t available = 0;
  // Asked as a new block of `bytes` would be, so that growing is allowed exactly where a second
  // block would have been; a refusal is no failure (the caller takes that block instead).
  if (!MayBeLarge(block) || bytes < kLargeBlock || bytes > SIZE_MAX - kLargePage ||
      GuardAnswerGivingBack(bytes, &available) != kOk) {
    return nullptr;
  }
  return Large().Grow(block, LargeBlockBytes(bytes));
}

void GuardedShrink(void* block, std::uint64_t bytes) noexcept {
  if (MayBeLarge(block) && bytes <= UINT64_MAX - kLargePage) {
    Large().Shrink(block, LargeBlockBytes(bytes));
  }
}

void ReleaseFreeBlocks() noexcept { Large().Release(); }

std::uint64_t KeptFreeBytes() noexcept { return Large().KeptBytes(); }

}  // namespace lumaro::dsp
