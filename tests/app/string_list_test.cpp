#include "context/string_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/string_list.h"

namespace lumaro::app {
namespace {

using ::testing::ElementsAre;

std::u16string Numbered(int i) { return platform::Utf8ToUtf16(std::to_string(i)); }

TEST(StringListTest, GrowsBy1024WithoutLosingEntries) {
  context::StringList list;
  EXPECT_EQ(list.Capacity(), 0);
  for (int i = 0; i < 2049; ++i) {
    ASSERT_EQ(list.Append(Numbered(i)), kOk);
    const int expected = (i / 1024 + 1) * 1024;
    ASSERT_EQ(list.Capacity(), expected) << "after append " << i + 1;
  }
  ASSERT_EQ(list.Count(), 2049);
  for (int i = 0; i < 2049; ++i) ASSERT_EQ(*list.Entry(i), Numbered(i));
  EXPECT_EQ(list.Entry(-1), nullptr);  // outside the list: nothing
  EXPECT_EQ(list.Entry(2049), nullptr);
  EXPECT_EQ(context::StringList().Entry(0), nullptr);
}

std::vector<std::u16string> Sorted(std::vector<std::u16string> items) {
  context::StringList list;
  for (const auto& item : items) EXPECT_EQ(list.Append(item), kOk);
  list.Sort();
  return testing::Entries(&list);
}

TEST(StringListTest, SortsIgnoringCase) {
  EXPECT_THAT(Sorted({u"b"}), ElementsAre(u"b"));
  EXPECT_THAT(Sorted({u"b", u"a"}), ElementsAre(u"a", u"b"));
  EXPECT_THAT(Sorted({u"Music Beta", u"music alpha", u"MUSIC", u"Zed", u"apple"}),
              ElementsAre(u"apple", u"MUSIC", u"music alpha", u"Music Beta", u"Zed"));
  EXPECT_THAT(Sorted({}), ElementsAre());
}

}  // namespace
}  // namespace lumaro::app
