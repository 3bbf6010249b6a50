#include "platform/endpoint_api.h"

namespace lumaro::platform::endpoint {

WaveFormat MakeWaveFormat(SubFormat subFormat, std::uint32_t rate, std::uint16_t containerBits,
                          std::uint16_t validBits) {
  WaveFormat format;
  format.subFormat = subFormat;
  format.samplesPerSec = rate;
  format.bitsPerSample = containerBits;
  format.validBitsPerSample = validBits;
  format.blockAlign = static_cast<std::uint16_t>(2 * containerBits / 8);
  format.avgBytesPerSec = format.blockAlign * rate;
  return format;
}

}  // namespace lumaro::platform::endpoint
