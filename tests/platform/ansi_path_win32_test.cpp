// The ANSI path check on Windows: the round trip through the process's code page, which
// scripts/wine-run fixes to 1252 (Western European).
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/os.h"
#include "platform/text.h"
#include "platform/win32/win32_api.h"

namespace lumaro::platform {
namespace {

constexpr UINT kWesternCodePage = 1252;

TEST(AnsiPathCheckTest, RoundTripThroughTheCodePage) {
  if (::GetACP() != kWesternCodePage) GTEST_SKIP() << "the table is code page 1252's";
  // The longest path, 259 units, of a letter the code page holds in one byte.
  const std::u16string longest = u"C:\\" + std::u16string(252, u'\u00E9') + u".ovi";
  // Path, passes, its narrow form (a failed conversion leaves it as it was: "-").
  const std::tuple<const char*, std::u16string, bool, std::string> cases[] = {
      {"ASCII", u"C:\\music\\song.ovi", true, "C:\\music\\song.ovi"},
      {"empty", u"", true, ""},
      {"Latin-1 letter", u"C:\\caf\u00E9.m", true, "C:\\caf\xE9.m"},
      {"euro sign in 0x80", u"C:\\\u20AC.m", true, "C:\\\x80.m"},
      {"259 units", longest, true, "C:\\" + std::string(252, '\xE9') + ".ovi"},
      {"Central European letters", u"C:\\\u0141\u00F3d\u017A.m", false, "-"},
      {"CJK", u"C:\\\u97F3\u697D.m", false, "-"},
      {"surrogate pair", u"C:\\\U0001F3B5.m", false, "-"},
      // Letters the code page has only a look-alike for: no best fit stands in.
      {"A with macron", u"C:\\\u0100.m", false, "-"},
      {"fullwidth A", u"C:\\\uFF21.m", false, "-"},
      {"unpaired surrogate", std::u16string(u"C:\\\xD800.m"), false, "-"},
      {"NUL", std::u16string(u"C:\\a\0b.m", 8), false, "-"},
  };
  for (const auto& [name, path, passes, narrow] : cases) {
    SCOPED_TRACE(name);
    std::string converted = "-";
    EXPECT_EQ(AnsiPathCheck(path), passes);
    EXPECT_EQ(ToAnsi(path, &converted), passes);
    EXPECT_EQ(converted, narrow);
  }
}

}  // namespace
}  // namespace lumaro::platform
