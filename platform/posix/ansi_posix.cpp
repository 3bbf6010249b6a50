// The narrow code-page round trip of os.h on POSIX systems: the locale's codeset.
#include <cwchar>
#include <string>
#include <utility>

#include "platform/os.h"

namespace lumaro::platform {
namespace {

constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateEnd = 0xE000;

// UTF-16 to the C library's wide characters; false for an unpaired surrogate or a NUL.
bool ToWide(std::u16string_view text, std::wstring* wide) {
  static_assert(sizeof(wchar_t) == 4, "POSIX wide characters hold whole code points");
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c == 0) return false;
    if (c >= kSurrogateFirst && c < kSurrogateEnd) {
      if (c >= kLowSurrogateFirst || i + 1 >= text.size()) return false;
      const char32_t low = text[i + 1];
      if (low < kLowSurrogateFirst || low >= kSurrogateEnd) return false;
      c = 0x10000 + ((c - kSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
      ++i;
    }
    wide->push_back(static_cast<wchar_t>(c));
  }
  return true;
}

// Wide to narrow; the C library refuses (EILSEQ) a character the codeset cannot hold, so no
// default character ever stands in for one.
bool ToNarrow(const std::wstring& wide, std::string* narrow) {
  std::mbstate_t state{};
  const wchar_t* from = wide.c_str();
  const std::size_t narrowLength = std::wcsrtombs(nullptr, &from, 0, &state);
  if (narrowLength == static_cast<std::size_t>(-1)) return false;
  std::string converted(narrowLength, '\0');
  state = std::mbstate_t{};
  from = wide.c_str();
  if (std::wcsrtombs(converted.data(), &from, converted.size() + 1, &state) != narrowLength) {
    return false;
  }
  *narrow = std::move(converted);
  return true;
}

}  // namespace

bool AnsiPathCheck(std::u16string_view path) {
  std::wstring wide;
  std::string narrow;
  if (!ToWide(path, &wide) || !ToNarrow(wide, &narrow)) return false;

  // And back.
  std::mbstate_t state{};
  const char* back = narrow.c_str();
  const std::size_t wideLength = std::mbsrtowcs(nullptr, &back, 0, &state);
  if (wideLength == static_cast<std::size_t>(-1)) return false;
  std::wstring roundTrip(wideLength, L'\0');
  state = std::mbstate_t{};
  back = narrow.c_str();
  if (std::mbsrtowcs(roundTrip.data(), &back, roundTrip.size() + 1, &state) != wideLength) {
    return false;
  }
  return roundTrip == wide;
}

bool ToAnsi(std::u16string_view text, std::string* narrow) {
  std::wstring wide;
  return ToWide(text, &wide) && ToNarrow(wide, narrow);
}

}  // namespace lumaro::platform
