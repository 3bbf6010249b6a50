#include "platform/win32/asio_abi.h"

#include <string>
#include <utility>

namespace lumaro::platform::driver::abi {
namespace {

constexpr std::int32_t kNoNumber = -1;

constexpr std::pair<SampleType, std::int32_t> kSampleTypeNumbers[] = {
    {SampleType::kInt16MSB, 0},     {SampleType::kInt24MSB, 1},    {SampleType::kInt32MSB, 2},
    {SampleType::kFloat32MSB, 3},   {SampleType::kFloat64MSB, 4},  {SampleType::kInt32MSB16, 8},
    {SampleType::kInt32MSB24, 11},  {SampleType::kInt16LSB, 16},   {SampleType::kInt24LSB, 17},
    {SampleType::kInt32LSB, 18},    {SampleType::kFloat32LSB, 19}, {SampleType::kFloat64LSB, 20},
    {SampleType::kInt32LSB16, 24},  {SampleType::kInt32LSB24, 27}, {SampleType::kDSDInt8LSB1, 32},
    {SampleType::kDSDInt8MSB1, 33},
};

}  // namespace

SampleType SampleTypeFromNative(std::int32_t type) {
  for (const auto& [known, number] : kSampleTypeNumbers) {
    if (number == type) return known;
  }
  return SampleType::kUnknown;
}

std::int32_t SampleTypeToNative(SampleType type) {
  for (const auto& [known, number] : kSampleTypeNumbers) {
    if (known == type) return number;
  }
  return kNoNumber;
}

bool GuidFromClassId(const ClassId& id, GUID* guid) {
  const std::u16string text = ClassIdToString(id);
  std::wstring native;
  if (!NativePath(text, &native)) return false;
  return SUCCEEDED(::CLSIDFromString(native.c_str(), guid));
}

}  // namespace lumaro::platform::driver::abi
