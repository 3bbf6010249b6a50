#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumaro::dsp {

// A byte store of 1 MiB pages for data whose size is not known in advance: one play-list line,
// or everything a child process or a platform decoder writes. Byte n lies in page n / kPageSize
// at offset n % kPageSize; pages come from GuardedAlloc on first write and are not zeroed.
//
// Length is the highest byte count ever written; Position is where the next append or read
// happens. Bytes 0 .. Length - 1 have always been written, so the pages in use are the slots
// from 0 up to the first empty one.
//
// Thread contract: one thread at a time. No call throws.
class PagedBuffer {
 public:
  static constexpr std::uint64_t kPageSize = 0x100000;  // 1 MiB
  static constexpr std::uint64_t kPageSlots = 65536;    // at most 64 GiB

  // A fresh, empty store (zeroed page table). Failure answer: nullptr.
  [[nodiscard]] static std::unique_ptr<PagedBuffer> Create() noexcept;

  ~PagedBuffer();
  PagedBuffer(const PagedBuffer&) = delete;
  PagedBuffer& operator=(const PagedBuffer&) = delete;

  // Stores `count` bytes at the position, advancing it and raising the length. Stops early when
  // the store is full or a page cannot be allocated; answers the number of bytes stored.
  [[nodiscard]] std::uint64_t Append(const void* bytes, std::uint64_t count) noexcept;

  // Moves the position for the next read or append (0 starts over). A position beyond the
  // length is refused (answer false, position unchanged).
  [[nodiscard]] bool SetPosition(std::uint64_t position) noexcept;

  // Copies up to `count` bytes from the position into `out`, advancing it; answers the number
  // copied, 0 once the position has reached the length.
  [[nodiscard]] std::uint64_t Read(void* out, std::uint64_t count) noexcept;

  // Forgets the contents (length and position 0) but keeps the pages for the next appends.
  void Clear() noexcept;

  std::uint64_t Length() const noexcept { return length_; }
  std::uint64_t Position() const noexcept { return position_; }

 private:
  PagedBuffer() = default;

  unsigned char** pages_ = nullptr;  // kPageSlots entries from GuardedAlloc, zeroed
  std::uint64_t length_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace lumaro::dsp
