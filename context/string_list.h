#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace lumaro::context {

// A growable list of texts, grown 1024 entries at a time. A failed append leaves the earlier
// entries untouched. Not thread-safe: one owner at a time.
class StringList {
 public:
  static constexpr std::int32_t kGrowth = 1024;

  StringList() = default;
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;

  // Stores a copy of `text` at the end. Failure answer: nonzero, list unchanged.
  [[nodiscard]] Result Append(std::u16string_view text) noexcept;

  // The text at `index`, or nullptr when the index is negative or not below Count().
  const std::u16string* Entry(std::int64_t index) const noexcept;

  // Ascending, ignoring letter case, by exchange sort: each position is compared with every later
  // one and the two swapped when the earlier compares greater.
  void Sort() noexcept;

  std::int32_t Count() const noexcept { return count_; }
  std::int32_t Capacity() const noexcept { return capacity_; }

 private:
  std::unique_ptr<std::u16string[]> items_;
  std::int32_t capacity_ = 0;
  std::int32_t count_ = 0;
};

// Makes an empty list; nullptr when it cannot be allocated.
std::unique_ptr<StringList> NewStringList() noexcept;

}  // namespace lumaro::context
