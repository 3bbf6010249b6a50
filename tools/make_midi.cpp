// lumaro-make-midi: writes a short MIDI file, a rising A-major arpeggio and its chord's top note
// held, for the demo play list.
//
//   lumaro-make-midi OUT
#include <cstdio>

#include "tools/midi_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumaro-make-midi OUT\n");
    return 2;
  }
  constexpr std::uint32_t kQuarter = lumaro::tools::kMidiTicksPerBeat;
  const std::vector<unsigned char> bytes = lumaro::tools::MakeMidi(
      {{57, kQuarter, 90}, {61, kQuarter, 90}, {64, kQuarter, 90}, {69, 4 * kQuarter, 100}});
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
