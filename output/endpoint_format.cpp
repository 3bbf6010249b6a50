#include "output/endpoint_format.h"

#include "platform/text.h"
#include "resources/status_texts.h"

namespace lumaro::output {
namespace {
constexpr std::uint32_t kDsd64Multiple = 64;
constexpr std::uint32_t kDsd128Multiple = 128;
constexpr std::uint32_t kDsd256Multiple = 256;
}  // namespace

std::uint32_t ReadDecimal(std::u16string_view text) {
  std::uint32_t value = 0;
  for (char16_t c : text) {
    value *= 10;
    if (c >= u'1' && c <= u'9') value += static_cast<std::uint32_t>(c - u'0');
  }
  return value;
}

std::uint32_t DopRateOf(std::u16string_view rateText) {
  if (rateText.empty()) return 0;
  switch (ReadDecimal(rateText.substr(1))) {
    case kDsd64Multiple:
      return 176400;
    case kDsd128Multiple:
      return 352800;
    case kDsd256Multiple:
      return 705600;
    default:
      return 0;
  }
}

bool IsShareRate(std::u16string_view rateText) {
  return platform::EqualNoCase(rateText, resources::kRateShare);
}
bool IsAutoRate(std::u16string_view rateText) {
  return platform::EqualNoCase(rateText, resources::kRateAuto);
}

}  // namespace lumaro::output
