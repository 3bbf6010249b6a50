#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

namespace lumaro::platform {

// The UTF-8 form of a path as the POSIX calls take it; false for a path holding a NUL or
// unpaired surrogates (no file could carry its name).
inline bool NativePath(std::u16string_view path, std::string* native) {
  if (path.find(u'\0') != std::u16string_view::npos) return false;
  *native = Utf16ToUtf8(path);
  return Utf8ToUtf16(*native) == path;
}

}  // namespace lumaro::platform
