#include "context/string_list.h"

#include <exception>
#include <limits>
#include <new>
#include <utility>

#include "platform/failure.h"
#include "platform/text.h"

namespace lumaro::context {
namespace {
enum : Result { kErrFull = FirstCode(FailureSite::kStringList), kErrNoMemory };
constexpr platform::FailureNames kFailures{
    FailureSite::kStringList, kErrNoMemory, {"string list full", "no memory for a string"}};

}  // namespace

std::unique_ptr<StringList> NewStringList() noexcept {
  return std::unique_ptr<StringList>(new (std::nothrow) StringList());
}

Result StringList::Append(std::u16string_view text) noexcept {
  try {
    std::u16string copy(text);
    if (count_ == capacity_) {
      if (capacity_ > std::numeric_limits<std::int32_t>::max() - kGrowth)
        return kFailures.Note(kErrFull);
      const std::int32_t grown = capacity_ + kGrowth;
      std::unique_ptr<std::u16string[]> items(new (std::nothrow) std::u16string[grown]);
      if (!items) return kFailures.Note(kErrNoMemory);
      for (std::int32_t i = 0; i < count_; ++i) items[i] = std::move(items_[i]);
      items_ = std::move(items);
      capacity_ = grown;
    }
    items_[count_] = std::move(copy);
    ++count_;
    return kOk;
  } catch (const std::exception&) {
    return kFailures.Note(kErrNoMemory);
  }
}

const std::u16string* StringList::Entry(std::int64_t index) const noexcept {
  if (index < 0 || index >= count_) return nullptr;
  return &items_[index];
}

void StringList::Sort() noexcept {
  for (std::int32_t i = 0; i + 1 < count_; ++i) {
    for (std::int32_t j = i + 1; j < count_; ++j) {
      if (platform::CompareNoCase(items_[i], items_[j]) > 0) std::swap(items_[i], items_[j]);
    }
  }
}

}  // namespace lumaro::context
