#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/driver_api.h"

// The driver family's format choices as pure functions: the sample types the player drives,
// the 1-bit rates of "D64" … "D512" and the size of a buffer half.
namespace lumaro::output {

// How the player fills a channel of a given sample type.
struct DriverSampleFormat {
  std::uint32_t validBits = 0;
  std::uint32_t containerBits = 0;
  std::uint32_t byteOrderFlag = 0;  // PCM: big-endian; 1-bit: earliest sample in bit 7
  friend bool operator==(const DriverSampleFormat&, const DriverSampleFormat&) = default;
};

// The format of `type` in the driver's PCM (`nativeDsd` false) or 1-bit format; nullopt for a
// type the player does not drive in that format (floating point, LSB words with fewer valid
// bits, any 1-bit type in PCM format and any PCM type in 1-bit format). A 32-bit big-endian word
// with 16 or 24 valid bits is filled as that many valid bits, sign-extended, in the word.
std::optional<DriverSampleFormat> DriverSampleFormatOf(platform::driver::SampleType type,
                                                       bool nativeDsd);

// The bit rate of a "D" rate choice ("D64" … "D512", the multiple of 44100 Hz); 0 for any other
// multiple.
std::uint32_t DriverDsdRateOf(std::u16string_view rateText);

// Samples per buffer half: a fifth of a second at `rate` (bits per channel in 1-bit format),
// raised to `minSize` or lowered to `maxSize`.
std::int32_t DriverBufferSize(std::uint32_t rate, std::int32_t minSize, std::int32_t maxSize);

}  // namespace lumaro::output
