#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The formats the player asks an output device for, in the order it tries them, and the
// silence it plays first. Backends only answer "supported or not"; the File output takes every
// one of them.
namespace lumaro::platform {

// Exclusive-mode rates, fastest first.
inline constexpr std::uint32_t kRateLadder[] = {768000, 705600, 384000, 352800, 192000, 176400,
                                                96000,  88200,  48000,  44100,  32000};

// Exclusive-mode integer formats: valid bits in a container, widest first.
struct PcmCandidate {
  std::uint16_t validBits;
  std::uint16_t containerBits;
};
inline constexpr PcmCandidate kPcmCandidates[] = {{32, 32}, {24, 32}, {24, 24}, {16, 16}};

// Shared mode plays 32-bit float at a rate in this range.
inline constexpr std::uint32_t kSharedMinRate = 8000;
inline constexpr std::uint32_t kSharedMaxRate = 384000;
inline constexpr std::uint16_t kSharedFloatBits = 32;

// Every track starts with about this many seconds of device silence after Start.
inline constexpr std::uint32_t kLeadInSeconds = 3;

// How many silent halves a driver gets before the music: the lead-in of `leadInUnits` (frames,
// or bytes per channel of 1-bit data) counted down by `unitsPerHalf` while more than a half
// remains. The player's lead-in and the driver File output's count of it both use this.
constexpr std::uint64_t LeadInHalves(std::uint64_t leadInUnits, std::uint64_t unitsPerHalf) {
  return unitsPerHalf != 0 && leadInUnits > unitsPerHalf ? (leadInUnits - 1) / unitsPerHalf : 0;
}

// Interleaves `bytes` of each of two channels by samples of `SampleBytes` into `out` (2 × bytes):
// how a driver's two half-buffers become the frames of a file or a device, and a DSF file's
// channel blocks the byte pairs of a 1-bit record.
template <std::size_t SampleBytes>
void InterleaveChannels(const std::uint8_t* left, const std::uint8_t* right, std::size_t bytes,
                        std::uint8_t* out) {
  for (std::size_t at = 0; at < bytes; at += SampleBytes, out += 2 * SampleBytes) {
    std::memcpy(out, left + at, SampleBytes);
    std::memcpy(out + SampleBytes, right + at, SampleBytes);
  }
}

// The same for a sample size known only at run time: 1, 2, 3 or 4 bytes.
inline void InterleaveChannels(const std::uint8_t* left, const std::uint8_t* right,
                               std::size_t bytes, std::size_t sampleBytes, std::uint8_t* out) {
  switch (sampleBytes) {
    case 1:
      return InterleaveChannels<1>(left, right, bytes, out);
    case 2:
      return InterleaveChannels<2>(left, right, bytes, out);
    case 3:
      return InterleaveChannels<3>(left, right, bytes, out);
    default:
      return InterleaveChannels<4>(left, right, bytes, out);
  }
}

}  // namespace lumaro::platform
