#include "dsp/paged_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "dsp/guarded_alloc.h"

namespace lumaro::dsp {
namespace {
// The largest chunk of pages taken at once (32 MiB: large enough for large pages, small enough
// that a refused chunk falls back before memory is short).
constexpr std::uint64_t kMaxChunkPages = 32;
}  // namespace

std::unique_ptr<PagedBuffer> PagedBuffer::Create() noexcept {
  std::unique_ptr<PagedBuffer> store(new (std::nothrow) PagedBuffer());
  if (!store) return nullptr;
  const std::uint64_t tableBytes = kPageSlots * (sizeof(unsigned char*) + 1);
  store->pages_ = static_cast<unsigned char**>(GuardedAlloc(tableBytes));
  if (store->pages_ == nullptr) return nullptr;
  std::memset(store->pages_, 0, tableBytes);
  store->chunkStarts_ = reinterpret_cast<unsigned char*>(store->pages_ + kPageSlots);
  return store;
}

PagedBuffer::~PagedBuffer() {
  if (pages_ == nullptr) return;
  for (std::uint64_t slot = 0; slot < kPageSlots && pages_[slot] != nullptr; ++slot) {
    if (chunkStarts_[slot] != 0) GuardedFree(pages_[slot]);
  }
  GuardedFree(pages_);
}

bool PagedBuffer::TakeChunk(std::uint64_t slot) noexcept {
  // The chunk doubles with the pages taken so far, up to kMaxChunkPages, within the table.
  std::uint64_t pages = std::clamp<std::uint64_t>(pagesTaken_, 1, kMaxChunkPages);
  pages = std::min(pages, kPageSlots - slot);
  void* block = GuardedAlloc(pages * kPageSize);
  if (block == nullptr && pages > 1) {
    pages = 1;
    block = GuardedAlloc(kPageSize);
  }
  if (block == nullptr) return false;
  for (std::uint64_t i = 0; i < pages; ++i) {
    pages_[slot + i] = static_cast<unsigned char*>(block) + i * kPageSize;
  }
  chunkStarts_[slot] = 1;
  pagesTaken_ += pages;
  return true;
}

std::uint64_t PagedBuffer::RunAt(std::uint64_t position) const noexcept {
  std::uint64_t slot = position / kPageSize;
  if (slot >= kPageSlots || pages_[slot] == nullptr) return 0;
  std::uint64_t run = kPageSize - position % kPageSize;
  // The pages after it in the same block follow in memory.
  while (++slot < kPageSlots && pages_[slot] != nullptr && chunkStarts_[slot] == 0) {
    run += kPageSize;
  }
  return run;
}

unsigned char* PagedBuffer::Room(std::uint64_t wanted, std::uint64_t* room) noexcept {
  *room = 0;
  const std::uint64_t slot = position_ / kPageSize;
  if (slot >= kPageSlots) return nullptr;
  if (pages_[slot] == nullptr && !TakeChunk(slot)) return nullptr;
  *room = std::min(wanted, RunAt(position_));
  return pages_[slot] + position_ % kPageSize;
}

void PagedBuffer::Commit(std::uint64_t count) noexcept {
  position_ += count;
  length_ = std::max(length_, position_);
}

std::uint64_t PagedBuffer::Append(const void* bytes, std::uint64_t count) noexcept {
  const auto* from = static_cast<const unsigned char*>(bytes);
  std::uint64_t stored = 0;
  while (stored < count) {
    std::uint64_t room = 0;
    unsigned char* to = Room(count - stored, &room);
    if (to == nullptr) break;
    std::memcpy(to, from + stored, static_cast<std::size_t>(room));
    Commit(room);
    stored += room;
  }
  return stored;
}

bool PagedBuffer::SetPosition(std::uint64_t position) noexcept {
  if (position > length_) return false;
  position_ = position;
  return true;
}

std::uint64_t PagedBuffer::Read(void* out, std::uint64_t count) noexcept {
  auto* to = static_cast<unsigned char*>(out);
  std::uint64_t copied = 0;
  while (copied < count && position_ < length_) {
    const std::uint64_t offset = position_ % kPageSize;
    const std::uint64_t run = std::min({count - copied, kPageSize - offset, length_ - position_});
    std::memcpy(to + copied, pages_[position_ / kPageSize] + offset, static_cast<std::size_t>(run));
    copied += run;
    position_ += run;
  }
  return copied;
}

void PagedBuffer::Clear() noexcept {
  length_ = 0;
  position_ = 0;
}

}  // namespace lumaro::dsp
