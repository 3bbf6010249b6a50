#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumaro::platform::file_output {

inline constexpr std::size_t kDsdiffHeaderBytes = 150;

// The header of a two-channel DSDIFF 1.5 file: FVER, PROP (FS, CHNL SLFT SRGT, CMPR "not
// compressed"), ABSS and the sound data chunk of `bytesPerChannel` × 2 bytes, which follow the
// header interleaved byte by byte, earliest sample in the most significant bit.
std::array<unsigned char, kDsdiffHeaderBytes> DsdiffHeader(std::uint32_t dsdRate,
                                                           std::uint64_t bytesPerChannel);

}  // namespace lumaro::platform::file_output
