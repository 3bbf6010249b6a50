// The narrow code-page round trip of os.h on Windows: the system's ANSI code page.
#include "platform/os.h"
#include "platform/win32/win32_api.h"

namespace lumaro::platform {
namespace {

constexpr char16_t kSurrogateFirst = 0xD800;
constexpr char16_t kLowSurrogateFirst = 0xDC00;
constexpr char16_t kSurrogateEnd = 0xE000;

// False for a NUL or an unpaired surrogate, which no code page round trip keeps.
bool WellFormed(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == 0) return false;
    if (c < kSurrogateFirst || c >= kSurrogateEnd) continue;
    if (c >= kLowSurrogateFirst || i + 1 >= text.size()) return false;
    const char16_t low = text[++i];
    if (low < kLowSurrogateFirst || low >= kSurrogateEnd) return false;
  }
  return true;
}

// Wide to the ANSI code page with no best-fit mapping; false when a default character stood in.
bool ToNarrow(std::u16string_view text, std::string* narrow) {
  if (!WellFormed(text)) return false;
  if (text.empty()) {
    narrow->clear();
    return true;
  }
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0,
                                         nullptr, &usedDefault);
  if (size <= 0 || usedDefault) return false;
  std::string converted(static_cast<std::size_t>(size), '\0');
  if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, converted.data(), size,
                            nullptr, &usedDefault) != size ||
      usedDefault) {
    return false;
  }
  *narrow = std::move(converted);
  return true;
}

}  // namespace

bool AnsiPathCheck(std::u16string_view path) {
  std::string narrow;
  if (!ToNarrow(path, &narrow)) return false;
  if (narrow.empty()) return path.empty();
  const int length = static_cast<int>(narrow.size());
  const int size =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow.data(), length, nullptr, 0);
  if (size <= 0) return false;
  std::wstring back(static_cast<std::size_t>(size), L'\0');
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow.data(), length, back.data(),
                            size) != size) {
    return false;
  }
  return FromWide(back.data(), back.size()) == path;
}

bool ToAnsi(std::u16string_view text, std::string* narrow) { return ToNarrow(text, narrow); }

}  // namespace lumaro::platform
