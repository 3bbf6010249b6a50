// The narrow code-page round trip of os.h on POSIX systems: the locale's codeset.
#include <cwchar>
#include <string>

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

}  // namespace

bool AnsiPathCheck(std::u16string_view path) {
  std::wstring wide;
  if (!ToWide(path, &wide)) return false;

  // Wide to narrow: the C library refuses (EILSEQ) a character the codeset cannot hold.
  std::mbstate_t state{};
  const wchar_t* from = wide.c_str();
  const std::size_t narrowLength = std::wcsrtombs(nullptr, &from, 0, &state);
  if (narrowLength == static_cast<std::size_t>(-1)) return false;
  std::string narrow(narrowLength, '\0');
  state = std::mbstate_t{};
  from = wide.c_str();
  if (std::wcsrtombs(narrow.data(), &from, narrow.size() + 1, &state) != narrowLength) return false;

  // And back.
  state = std::mbstate_t{};
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

}  // namespace lumaro::platform
