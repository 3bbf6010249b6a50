#pragma once

#include <string>
#include <string_view>

namespace lumaro::platform {

// UTF-8 to UTF-16. Invalid or truncated sequences, overlong forms, surrogates encoded in UTF-8
// and values above U+10FFFF each become U+FFFD; the conversion never fails.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Case-insensitive ordering of two texts (negative, zero, positive), by simple case folding of
// Latin, Greek and Cyrillic letters and code-unit order otherwise. Stable for every input.
int CompareNoCase(std::u16string_view a, std::u16string_view b);

// True when the two texts are equal ignoring letter case.
inline bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  return CompareNoCase(a, b) == 0;
}

// Text of a decimal integer (for list entries such as "44100" and "D64").
std::u16string DecimalText(long long value);

}  // namespace lumaro::platform
