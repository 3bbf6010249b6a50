// lumaro-make-dsf: writes a stereo DSF test signal (a 1 kHz sine at half scale, left, and 440 Hz,
// right, through a second-order sigma-delta modulator), for benchmarks and listening.
//
//   lumaro-make-dsf OUT SECONDS [64|128|256|512]
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

#include "tools/stages.h"

namespace {

constexpr std::uint32_t kBlock = 4096;

void PutLe(std::FILE* f, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((value >> (8 * i)) & 0xFF), f);
}

// Second-order sigma-delta: one bit per call, +1 for a set bit.
struct Modulator {
  double i1 = 0.0, i2 = 0.0, y = 0.0;
  bool Next(double x) {
    i1 += x - y;
    i2 += i1 - y;
    y = i2 >= 0.0 ? 1.0 : -1.0;
    return y > 0.0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t seconds = 0;
  std::uint64_t multiple = 64;
  if (argc < 3 || !lumaro::tools::ParseUnsigned(argv[2], &seconds) || seconds == 0 ||
      (argc > 3 && !lumaro::tools::ParseUnsigned(argv[3], &multiple)) ||
      (multiple != 64 && multiple != 128 && multiple != 256 && multiple != 512)) {
    std::fprintf(stderr, "usage: lumaro-make-dsf OUT SECONDS [64|128|256|512]\n");
    return 2;
  }
  const std::uint64_t rate = 44100 * multiple;
  const std::uint64_t length = seconds * rate / 8;  // bytes per channel
  const std::uint64_t blocks = (length + kBlock - 1) / kBlock;
  const std::uint64_t dataBytes = blocks * 2 * kBlock;
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "lumaro-make-dsf: cannot create %s\n", argv[1]);
    return 1;
  }
  std::fwrite("DSD ", 1, 4, f);
  PutLe(f, 28, 8), PutLe(f, 92 + dataBytes, 8), PutLe(f, 0, 8);
  std::fwrite("fmt ", 1, 4, f);
  PutLe(f, 52, 8), PutLe(f, 1, 4), PutLe(f, 0, 4), PutLe(f, 2, 4), PutLe(f, 2, 4);
  PutLe(f, rate, 4), PutLe(f, 1, 4), PutLe(f, length * 8, 8), PutLe(f, kBlock, 4), PutLe(f, 0, 4);
  std::fwrite("data", 1, 4, f);
  PutLe(f, dataBytes + 12, 8);

  Modulator left, right;
  const double stepLeft = 2.0 * M_PI * 1000.0 / static_cast<double>(rate);
  const double stepRight = 2.0 * M_PI * 440.0 / static_cast<double>(rate);
  std::vector<unsigned char> group(2 * kBlock);
  std::uint64_t bit = 0;
  for (std::uint64_t b = 0; b < blocks; ++b) {
    for (std::uint32_t k = 0; k < kBlock; ++k) {
      unsigned char l = 0, r = 0;
      for (int j = 0; j < 8; ++j, ++bit) {  // earliest sample in bit 0
        const double t = static_cast<double>(bit);
        l = static_cast<unsigned char>(l | (left.Next(0.5 * std::sin(stepLeft * t)) << j));
        r = static_cast<unsigned char>(r | (right.Next(0.5 * std::sin(stepRight * t)) << j));
      }
      const bool real = b * kBlock + k < length;
      group[k] = real ? l : 0x69;
      group[kBlock + k] = real ? r : 0x69;
    }
    std::fwrite(group.data(), 1, group.size(), f);
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
