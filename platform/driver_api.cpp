#include "platform/driver_api.h"

namespace lumaro::platform::driver {
namespace {

// "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}": the digit groups of a class id text.
constexpr std::size_t kClassIdTextSize = 38;
constexpr std::size_t kDashes[] = {9, 14, 19, 24};
constexpr char16_t kDigits[] = u"0123456789ABCDEF";
constexpr int kNotADigit = -1;
constexpr unsigned kBitsPerDigit = 4;

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return kNotADigit;
}

bool IsDash(std::size_t position) {
  for (std::size_t dash : kDashes) {
    if (dash == position) return true;
  }
  return false;
}

}  // namespace

// The bytes are kept in the order their digits are written.
std::optional<ClassId> ClassIdFromString(std::u16string_view text) {
  if (text.size() != kClassIdTextSize || text.front() != u'{' || text.back() != u'}')
    return std::nullopt;
  ClassId id{};
  std::size_t digits = 0;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (IsDash(i)) {
      if (text[i] != u'-') return std::nullopt;
      continue;
    }
    const int value = DigitValue(text[i]);
    if (value == kNotADigit) return std::nullopt;
    std::uint8_t& byte = id[digits / 2];
    byte = static_cast<std::uint8_t>((byte << kBitsPerDigit) | value);
    ++digits;
  }
  return id;
}

std::u16string ClassIdToString(const ClassId& id) {
  std::u16string text(1, u'{');
  for (std::uint8_t byte : id) {
    for (unsigned shift : {kBitsPerDigit, 0u}) {
      if (IsDash(text.size())) text += u'-';
      text += kDigits[(byte >> shift) & 0xF];
    }
  }
  text += u'}';
  return text;
}

AsioError CheckStereoBuffers(const BufferInfo* infos, std::int32_t channels,
                             const Callbacks* callbacks) {
  constexpr std::int32_t kStereo = 2;
  if (infos == nullptr || channels != kStereo || callbacks == nullptr ||
      callbacks->bufferSwitch == nullptr)
    return kAseInvalidParameter;
  for (std::int32_t c = 0; c < channels; ++c) {
    if (infos[c].isInput || infos[c].channelNum != c) return kAseInvalidParameter;
  }
  return kAseOk;
}

AsioError DescribeStereoChannel(ChannelInfo* info, bool active, SampleType type) {
  if (info->isInput || info->channel < 0 || info->channel > 1) return kAseInvalidParameter;
  info->isActive = active;
  info->channelGroup = 0;
  info->type = type;
  info->name = info->channel == 0 ? u"Left" : u"Right";
  return kAseOk;
}

}  // namespace lumaro::platform::driver
