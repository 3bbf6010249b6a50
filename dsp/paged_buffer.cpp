#include "dsp/paged_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "dsp/guarded_alloc.h"

namespace lumaro::dsp {

std::unique_ptr<PagedBuffer> PagedBuffer::Create() noexcept {
  std::unique_ptr<PagedBuffer> store(new (std::nothrow) PagedBuffer());
  if (!store) return nullptr;
  const std::uint64_t tableBytes = kPageSlots * sizeof(unsigned char*);
  store->pages_ = static_cast<unsigned char**>(GuardedAlloc(tableBytes));
  if (store->pages_ == nullptr) return nullptr;
  std::memset(store->pages_, 0, tableBytes);
  return store;
}

PagedBuffer::~PagedBuffer() {
  if (pages_ == nullptr) return;
  for (std::uint64_t slot = 0; slot < kPageSlots && pages_[slot] != nullptr; ++slot) {
    GuardedFree(pages_[slot]);
  }
  GuardedFree(pages_);
}

std::uint64_t PagedBuffer::Append(const void* bytes, std::uint64_t count) noexcept {
  const auto* from = static_cast<const unsigned char*>(bytes);
  std::uint64_t stored = 0;
  while (stored < count) {
    const std::uint64_t slot = position_ / kPageSize;
    if (slot >= kPageSlots) break;
    if (pages_[slot] == nullptr) {
      pages_[slot] = static_cast<unsigned char*>(GuardedAlloc(kPageSize));
      if (pages_[slot] == nullptr) break;
    }
    const std::uint64_t offset = position_ % kPageSize;
    const std::uint64_t run = std::min(count - stored, kPageSize - offset);
    std::memcpy(pages_[slot] + offset, from + stored, static_cast<std::size_t>(run));
    stored += run;
    position_ += run;
    length_ = std::max(length_, position_);
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
