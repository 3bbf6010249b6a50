#include "platform/text.h"

#include <gtest/gtest.h>

#include <tuple>

namespace lumaro::platform {
namespace {

TEST(Utf8ToUtf16Test, DecodesOrReplaces) {
  const std::tuple<const char*, std::string, std::u16string> cases[] = {
      {"ascii", "Music/a.flac", u"Music/a.flac"},
      {"two byte", "caf\xC3\xA9", u"caf\u00E9"},
      {"three byte", "\xE9\x9F\xB3", u"\u97F3"},
      {"four byte", "\xF0\x9F\x8E\xB5", u"\U0001F3B5"},
      {"lone continuation", "a\x80z", u"a\uFFFDz"},
      {"truncated", "a\xE9\x9F", u"a\uFFFD"},
      {"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
      {"byte-order mark kept", "\xEF\xBB\xBFx", u"\uFEFFx"},
  };
  for (const auto& [name, utf8, utf16] : cases) EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << name;
}

TEST(Utf16ToUtf8Test, RoundTripsAndReplacesUnpairedSurrogates) {
  const std::u16string text = u"a\u00E9\u97F3\U0001F3B5";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xDC00})), "\xEF\xBF\xBD");
}

TEST(CompareNoCaseTest, FoldsLettersOnly) {
  EXPECT_EQ(CompareNoCase(u"ABC", u"abc"), 0);
  EXPECT_EQ(CompareNoCase(u"\u00C9t\u00E9", u"\u00E9T\u00C9"), 0);
  EXPECT_EQ(CompareNoCase(u"\u0416", u"\u0436"), 0);
  EXPECT_LT(CompareNoCase(u"abc", u"ABD"), 0);
  EXPECT_LT(CompareNoCase(u"ab", u"ABC"), 0);
  EXPECT_GT(CompareNoCase(u"b", u"A"), 0);
  EXPECT_NE(CompareNoCase(u"a_", u"A-"), 0);
}

}  // namespace
}  // namespace lumaro::platform
