#include "platform/path.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "tests/support/audio_files.h"

namespace lumaro::platform {
namespace {

using testing::NativeSeparators;

TEST(PathFindExtensionTest, Table) {
  const std::pair<std::u16string_view, std::u16string_view> cases[] = {
      {u"/m/a.flac", u".flac"},
      {u"/m/list.m3u8", u".m3u8"},
      {u"/m/LIST.M3U8", u".M3U8"},
      {u"/m/a.b.wav", u".wav"},
      {u"/m.d/noext", u""},
      {u"/m/.hidden", u".hidden"},
      {u"/m/a. flac", u""},
      {u"", u""},
      {u"/m/a.", u"."},
  };
  for (const auto& [path, extension] : cases) EXPECT_EQ(PathFindExtension(path), extension);
}

TEST(PathRemoveFileSpecTest, Table) {
  const std::tuple<std::u16string, bool, std::u16string> cases[] = {
      {u"/music/list.m3u8", true, u"/music"},
      {u"/list.m3u8", true, u"/"},
      {u"/", false, u"/"},
      {u"list.m3u8", true, u""},
      {u"/a//b", true, u"/a"},
  };
  for (auto [path, removed, rest] : cases) {
    EXPECT_EQ(PathRemoveFileSpec(path), removed);
    EXPECT_EQ(path, rest);
  }
}

TEST(PathAppendTest, JoinsWithOneSeparatorAndRespectsTheLimit) {
  std::u16string path = u"/music";
  ASSERT_TRUE(PathAppend(path, u"/a.flac"));
  EXPECT_EQ(path, u"/music" + NativeSeparators(u"/a.flac"));
  std::u16string root = u"/";
  ASSERT_TRUE(PathAppend(root, u"x"));
  EXPECT_EQ(root, u"/x");

  std::u16string base(200, u'a');
  EXPECT_TRUE(PathAppend(base, std::u16string(58, u'b')));  // 200 + 1 + 58 = 259 fits
  std::u16string full(200, u'a');
  EXPECT_FALSE(PathAppend(full, std::u16string(59, u'b')));  // 260 does not
  EXPECT_EQ(full, std::u16string(200, u'a'));
}

// The limit counts UTF-16 units, whatever the characters: a path of 259 units fits, one of 260
// does not, with names of one-unit letters outside ASCII and of two-unit (surrogate pair)
// characters alike.
TEST(PathLimitTest, NonAsciiNamesAtTheLimitTable) {
  struct Case {
    const char* name;
    std::u16string unit;  // one character, of 1 or 2 units
  } const cases[] = {
      {"ASCII", u"a"},
      {"Latin-1", u"\u00E9"},
      {"CJK", u"\u97F3"},
      {"surrogate pair", u"\U0001F3B5"},
  };
  const auto repeat = [](const std::u16string& unit, std::size_t units) {
    std::u16string text;
    while (text.size() + unit.size() <= units) text += unit;
    return text + std::u16string(units - text.size(), u'x');  // padded to the exact length
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string directory = u"/" + repeat(c.unit, 120);  // 121 units
    for (const std::size_t total : {kMaxPath - 1, kMaxPath}) {
      const std::u16string name = repeat(c.unit, total - directory.size() - 1);
      std::u16string path = directory;
      const bool fits = total < kMaxPath;
      EXPECT_EQ(PathAppend(path, name), fits) << total;
      EXPECT_EQ(path, fits ? directory + kPathSeparator + name : directory);
      const std::u16string whole = directory + u"/" + name;
      ASSERT_EQ(whole.size(), total);
      EXPECT_EQ(PathCanonicalize(whole).has_value(), fits) << total;
      EXPECT_EQ(PathFindFileName(whole), name);
      std::u16string parent = whole;
      ASSERT_TRUE(PathRemoveFileSpec(parent));
      EXPECT_EQ(parent, directory);
    }
  }
}

TEST(PathCanonicalizeTest, Table) {
  const std::pair<std::u16string_view, std::u16string_view> cases[] = {
      {u"/a/./b/../c", u"/a/c"}, {u"/../a", u"/a"},      {u"../x/y", u"../x/y"},
      {u"a/../../b", u"../b"},   {u"//a///b/", u"/a/b"}, {u"a/..", u"."},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(PathCanonicalize(in).value_or(u"?"), NativeSeparators(out));
  EXPECT_FALSE(PathCanonicalize(u"/" + std::u16string(259, u'a')).has_value());
}

TEST(FileNameTest, TitleIsTheLastComponent) {
  EXPECT_EQ(PathFindFileName(u"/m/Artist/01 Song.flac"), u"01 Song.flac");
  EXPECT_EQ(GetFileTitle(u"/m/Artist/01 Song.flac").value_or(u"?"), u"01 Song.flac");
  EXPECT_EQ(GetFileTitle(u"song.wav").value_or(u"?"), u"song.wav");
  EXPECT_FALSE(GetFileTitle(u"/m/Artist/").has_value());
  EXPECT_FALSE(GetFileTitle(u"").has_value());
  EXPECT_TRUE(PathIsRoot(u"/"));
  EXPECT_FALSE(PathIsRoot(u"/m"));
}

// A drive letter starts at a root only where the system has drive letters.
TEST(PathIsRelativeTest, Table) {
  const bool drives = kPathSeparator == u'\\';
  const std::pair<const char16_t*, bool> kCases[] = {
      {u"", true},           {u"song.wav", true},      {u"a/b.wav", true},
      {u"/m/a.wav", false},  {u"\\\\srv\\a", !drives}, {u"C:\\m\\a.wav", !drives},
      {u"c:a.wav", !drives},
  };
  for (const auto& [path, relative] : kCases) EXPECT_EQ(PathIsRelative(path), relative);
}

}  // namespace
}  // namespace lumaro::platform
