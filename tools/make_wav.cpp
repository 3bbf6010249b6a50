// lumaro-make-wav: writes a stereo PCM WAV test signal, a rising A-major arpeggio (A4, C#5, E5,
// A5, a quarter of the length each, with a soft attack and decay) at -6 dBFS peak, for the demo
// play list and for listening.
//
//   lumaro-make-wav OUT SECONDS RATE 16|24
#include <cmath>
#include <cstdio>
#include <vector>

#include "tools/stages.h"

namespace {

constexpr double kPeak = 0.5;
constexpr double kAttackSeconds = 0.02;
constexpr double kNotes[] = {440.0, 554.365, 659.255, 880.0};

void PutLe(std::FILE* f, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((value >> (8 * i)) & 0xFF), f);
}

// The signal at frame `n`: the note of its quarter, its fifth above quieter on the right.
double Sample(std::uint64_t n, std::uint64_t frames, double rate, bool right) {
  const std::uint64_t noteFrames = frames / 4 + 1;
  const std::uint64_t note = n / noteFrames;
  const double t = static_cast<double>(n % noteFrames) / rate;
  const double length = static_cast<double>(noteFrames) / rate;
  const double envelope =
      std::min(1.0, t / kAttackSeconds) * std::exp(-3.0 * t / length) * (1.0 - t / length);
  const double f = kNotes[note];
  const double tone = right
                          ? 0.7 * std::sin(2.0 * M_PI * f * t) + 0.3 * std::sin(3.0 * M_PI * f * t)
                          : std::sin(2.0 * M_PI * f * t);
  return kPeak * envelope * tone;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t seconds = 0;
  std::uint64_t rate = 0;
  std::uint64_t bits = 0;
  if (argc != 5 || !lumaro::tools::ParseUnsigned(argv[2], &seconds) || seconds == 0 ||
      !lumaro::tools::ParseUnsigned(argv[3], &rate) || rate < 8000 || rate > 768000 ||
      !lumaro::tools::ParseUnsigned(argv[4], &bits) || (bits != 16 && bits != 24)) {
    std::fprintf(stderr, "usage: lumaro-make-wav OUT SECONDS RATE 16|24\n");
    return 2;
  }
  const std::uint64_t frames = seconds * rate;
  const int bytes = static_cast<int>(bits / 8);
  const std::uint64_t dataBytes = frames * 2 * static_cast<std::uint64_t>(bytes);
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "lumaro-make-wav: cannot create %s\n", argv[1]);
    return 1;
  }
  std::fwrite("RIFF", 1, 4, f);
  PutLe(f, 36 + dataBytes, 4);
  std::fwrite("WAVEfmt ", 1, 8, f);
  PutLe(f, 16, 4), PutLe(f, 1, 2), PutLe(f, 2, 2), PutLe(f, rate, 4);
  PutLe(f, rate * 2 * static_cast<std::uint64_t>(bytes), 4), PutLe(f, 2 * bytes, 2);
  PutLe(f, bits, 2);
  std::fwrite("data", 1, 4, f);
  PutLe(f, dataBytes, 4);
  const double scale = std::ldexp(1.0, static_cast<int>(bits) - 1) - 1.0;
  for (std::uint64_t n = 0; n < frames; ++n) {
    for (bool right : {false, true}) {
      const auto value = static_cast<std::int64_t>(
          std::lround(scale * Sample(n, frames, static_cast<double>(rate), right)));
      PutLe(f, static_cast<std::uint64_t>(value), bytes);
    }
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
