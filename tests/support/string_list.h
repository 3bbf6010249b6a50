#pragma once

#include <string>
#include <vector>

#include "context/string_list.h"

namespace lumaro::testing {

// The entries of a list (empty when there is none).
inline std::vector<std::u16string> Entries(const context::StringList* list) {
  std::vector<std::u16string> entries;
  for (std::int32_t i = 0; list != nullptr && i < list->Count(); ++i) {
    entries.push_back(*list->Entry(i));
  }
  return entries;
}

}  // namespace lumaro::testing
