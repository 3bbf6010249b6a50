#include "output/endpoint_format.h"

#include <gtest/gtest.h>

namespace lumaro::output {
namespace {

TEST(EndpointFormatTest, DecimalReaderCountsEveryCharacterAsADigitPlace) {
  struct Case {
    std::u16string_view text;
    std::uint32_t value;
  } const cases[] = {
      {u"44100", 44100},   {u"", 0},      {u"0", 0},
      {u"705600", 705600}, {u"4a1", 401},  // a letter is a zero digit
      {u"D64", 64},                        // so is the "D"
      {u" 48000", 48000},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadDecimal(c.text), c.value);
}

TEST(EndpointFormatTest, ShareAndAutoIgnoreLetterCase) {
  EXPECT_TRUE(IsShareRate(u"Share"));
  EXPECT_TRUE(IsShareRate(u"SHARE"));
  EXPECT_FALSE(IsShareRate(u"Shared"));
  EXPECT_TRUE(IsAutoRate(u"auto"));
  EXPECT_FALSE(IsAutoRate(u"Auto "));
}

}  // namespace
}  // namespace lumaro::output
