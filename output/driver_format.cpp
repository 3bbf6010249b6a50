#include "output/driver_format.h"

#include "output/endpoint_format.h"

namespace lumaro::output {
namespace {
using platform::driver::SampleType;

constexpr std::uint32_t kDsdBaseRate = 44100;
constexpr std::uint32_t kDsdMultiples[] = {64, 128, 256, 512};
constexpr std::uint32_t kBufferDivisor = 5;  // a fifth of a second per half
constexpr DriverSampleFormat kOneBit{1, 8, 0};
constexpr DriverSampleFormat kOneBitMsbFirst{1, 8, 1};
}  // namespace

std::optional<DriverSampleFormat> DriverSampleFormatOf(SampleType type, bool nativeDsd) {
  if (nativeDsd) {
    switch (type) {
      case SampleType::kDSDInt8LSB1:
        return kOneBit;
      case SampleType::kDSDInt8MSB1:
        return kOneBitMsbFirst;
      default:
        return std::nullopt;
    }
  }
  switch (type) {
    case SampleType::kInt16MSB:
      return DriverSampleFormat{16, 16, 1};
    case SampleType::kInt24MSB:
      return DriverSampleFormat{24, 24, 1};
    case SampleType::kInt32MSB:
      return DriverSampleFormat{32, 32, 1};
    case SampleType::kInt32MSB16:
      return DriverSampleFormat{16, 32, 1};
    case SampleType::kInt32MSB24:
      return DriverSampleFormat{24, 32, 1};
    case SampleType::kInt16LSB:
      return DriverSampleFormat{16, 16, 0};
    case SampleType::kInt24LSB:
      return DriverSampleFormat{24, 24, 0};
    case SampleType::kInt32LSB:
      return DriverSampleFormat{32, 32, 0};
    default:
      return std::nullopt;
  }
}

std::uint32_t DriverDsdRateOf(std::u16string_view rateText) {
  if (rateText.empty()) return 0;
  const std::uint32_t multiple = ReadDecimal(rateText.substr(1));
  for (std::uint32_t m : kDsdMultiples) {
    if (m == multiple) return m * kDsdBaseRate;
  }
  return 0;
}

std::int32_t DriverBufferSize(std::uint32_t rate, std::int32_t minSize, std::int32_t maxSize) {
  const std::int64_t size = rate / kBufferDivisor;
  if (size < minSize) return minSize;
  if (size > maxSize) return maxSize;
  return static_cast<std::int32_t>(size);
}

}  // namespace lumaro::output
