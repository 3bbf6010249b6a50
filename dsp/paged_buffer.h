#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumaro::dsp {

// A byte store of 1 MiB pages for data whose size is not known in advance: one play-list line,
// or everything a child process or a platform decoder writes. Byte n lies in page n / kPageSize
// at offset n % kPageSize; pages come from GuardedAlloc on first write and are not zeroed.
//
// Pages are taken in chunks of consecutive pages that grow with the store (1, 1, 2, 4 ... 32
// pages), so that a store of hundreds of megabytes is a few dozen large blocks the system can back
// with large pages; when a chunk is refused a single page is tried, as before.
//
// Length is the highest byte count ever written; Position is where the next append or read
// happens. Bytes 0 .. Length - 1 have always been written, so the pages in use are the slots
// from 0 up to the first empty one.
//
// Thread contract: one thread at a time. No call throws.
class PagedBuffer {
 public:
#ifdef LUMARO_FUZZ_BUILD
  // The fuzz build's inputs are kilobytes: 4 KiB pages cross page boundaries, and a store does
  // not clear a 576 KiB table that the sanitizer shadows (at most 16 MiB).
  static constexpr std::uint64_t kPageSize = 4096;
  static constexpr std::uint64_t kPageSlots = 4096;
#else
  static constexpr std::uint64_t kPageSize = 0x100000;  // 1 MiB
  static constexpr std::uint64_t kPageSlots = 65536;    // at most 64 GiB
#endif

  // A fresh, empty store (zeroed page table). Failure answer: nullptr.
  [[nodiscard]] static std::unique_ptr<PagedBuffer> Create() noexcept;

  ~PagedBuffer();
  PagedBuffer(const PagedBuffer&) = delete;
  PagedBuffer& operator=(const PagedBuffer&) = delete;

  // Stores `count` bytes at the position, advancing it and raising the length. Stops early when
  // the store is full or a page cannot be allocated; answers the number of bytes stored.
  [[nodiscard]] std::uint64_t Append(const void* bytes, std::uint64_t count) noexcept;

  // The room at the position that can be written in one piece (up to the end of its chunk, at
  // most `wanted` bytes), taken from the guard if needed; nullptr when the store is full or no
  // page can be had. Write into it, then call Commit with the count written: together they are an
  // append without a copy (a pipe read goes straight into the store).
  [[nodiscard]] unsigned char* Room(std::uint64_t wanted, std::uint64_t* room) noexcept;
  // Takes `count` bytes written at the position (at most the room just given) into the store.
  void Commit(std::uint64_t count) noexcept;

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

  // Makes page `slot` (and the rest of its chunk) writable; false when refused.
  bool TakeChunk(std::uint64_t slot) noexcept;
  // The number of consecutive writable bytes from the position (0 when its page is missing).
  std::uint64_t RunAt(std::uint64_t position) const noexcept;

  unsigned char** pages_ = nullptr;       // kPageSlots entries, zeroed; then kPageSlots chunk marks
  unsigned char* chunkStarts_ = nullptr;  // 1 where a slot begins a block of its own
  std::uint64_t pagesTaken_ = 0;
  std::uint64_t length_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace lumaro::dsp
