#include <cstdint>
#include <string_view>

#include "tools/stages.h"

namespace lumaro::tools {

bool ParseUnsigned(std::string_view text, std::uint64_t* value) {
  if (text.empty()) return false;
  std::uint64_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

}  // namespace lumaro::tools
