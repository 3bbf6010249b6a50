#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace lumaro::testing {

// One second of a stereo 16-bit 44.1 kHz tone.
inline std::vector<std::int64_t> ToneSamples() {
  std::vector<std::int64_t> samples;
  for (int i = 0; i < 44100; ++i) {
    samples.push_back(std::lround(8000 * std::sin(i * 0.05)));
    samples.push_back(std::lround(-6000 * std::sin(i * 0.031)));
  }
  return samples;
}

}  // namespace lumaro::testing
