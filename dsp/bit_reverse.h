#pragma once

#include <array>
#include <cstdint>

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

}  // namespace lumaro::dsp
