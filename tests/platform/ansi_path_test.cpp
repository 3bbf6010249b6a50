#include <gtest/gtest.h>
#include <locale.h>

#include <tuple>

#include "platform/os.h"
#include "platform/text.h"

namespace lumaro::platform {
namespace {

// Runs the check and the conversion with the calling thread in the given character locale.
bool CheckIn(const char* localeName, std::u16string_view path, std::string* narrow) {
  const locale_t locale = newlocale(LC_CTYPE_MASK, localeName, static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) {
    ADD_FAILURE() << "no locale " << localeName;
    return false;
  }
  const locale_t previous = uselocale(locale);
  const bool passed = AnsiPathCheck(path);
  EXPECT_EQ(ToAnsi(path, narrow), passed);
  uselocale(previous);
  freelocale(locale);
  return passed;
}

TEST(AnsiPathCheckTest, RoundTripThroughTheLocalesCodeset) {
  // Locale, path, passes, its narrow form (a failed conversion leaves it as it was: "-").
  const std::tuple<const char*, std::u16string, bool, std::string> cases[] = {
      {"C", u"/music/song.ovi", true, "/music/song.ovi"},
      {"C", u"/music/caf\u00e9.ovi", false, "-"},
      {"C.UTF-8", u"/music/caf\u00e9.ovi", true, "/music/caf\xc3\xa9.ovi"},
      {"C.UTF-8", u"/\u97f3\u697d/\U0001F3B5.m", true,
       "/\xe9\x9f\xb3\xe6\xa5\xbd/\xf0\x9f\x8e\xb5.m"},
      {"C.UTF-8", std::u16string(u"/a\xD800.m"), false, "-"},  // unpaired surrogate
      {"C.UTF-8", std::u16string(u"/a\0b.m", 6), false, "-"},
  };
  for (const auto& [locale, path, passes, narrow] : cases) {
    std::string converted = "-";
    EXPECT_EQ(CheckIn(locale, path, &converted), passes) << locale << " " << Utf16ToUtf8(path);
    EXPECT_EQ(converted, narrow) << locale << " " << Utf16ToUtf8(path);
  }
}

}  // namespace
}  // namespace lumaro::platform
