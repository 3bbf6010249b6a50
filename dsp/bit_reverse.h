#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lumaro::dsp {

// Every byte with its eight bits in reverse order: the earliest 1-bit sample moves between bit
// 0 (the player's order) and bit 7 (the order of DoP frames and of big-endian drivers).
inline constexpr std::array<std::uint8_t, 256> kBitReversed = [] {
  std::array<std::uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned r = 0;
    for (unsigned bit = 0; bit < 8; ++bit) r |= ((b >> bit) & 1U) << (7 - bit);
    table[b] = static_cast<std::uint8_t>(r);
  }
  return table;
}();

// Bytes [0, n) of `in` with their bits reversed into `out`, which is `in` or does not overlap it:
// the bytes of kBitReversed, made eight at a time by swapping neighbouring bits, then bit pairs,
// then nibbles, a loop an optimised build turns into vector code on every instruction set.
inline void ReverseBitsOf(const std::uint8_t* in, std::uint8_t* out, std::size_t n) noexcept {
  constexpr std::uint64_t kBits = 0x5555555555555555U;
  constexpr std::uint64_t kPairs = 0x3333333333333333U;
  constexpr std::uint64_t kNibbles = 0x0F0F0F0F0F0F0F0FU;
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  std::size_t i = 0;
  for (; i + kWord <= n; i += kWord) {
    std::uint64_t x;
    std::memcpy(&x, in + i, kWord);
    x = ((x >> 1) & kBits) | ((x & kBits) << 1);
    x = ((x >> 2) & kPairs) | ((x & kPairs) << 2);
    x = ((x >> 4) & kNibbles) | ((x & kNibbles) << 4);
    std::memcpy(out + i, &x, kWord);
  }
  for (; i < n; ++i) out[i] = kBitReversed[in[i]];
}

}  // namespace lumaro::dsp
