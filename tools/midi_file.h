#pragma once

#include <cstdint>
#include <vector>

// A standard MIDI file (format 0, one track, piano) of notes played one after another, for the
// demo play list and the tests of the MIDI renderer.
namespace lumaro::tools {

struct MidiNote {
  std::uint8_t key;       // 60 = middle C
  std::uint32_t ticks;    // length at 480 ticks a beat, 120 beats a minute (960 ticks a second)
  std::uint8_t velocity;  // 1 to 127
};

inline constexpr std::uint16_t kMidiTicksPerBeat = 480;

// The file's bytes.
inline std::vector<unsigned char> MakeMidi(const std::vector<MidiNote>& notes) {
  std::vector<unsigned char> track;
  const auto quantity = [&](std::uint32_t value) {  // variable-length, 7 bits a byte
    unsigned char bytes[5];
    int count = 0;
    do {
      bytes[count++] = static_cast<unsigned char>(value & 0x7F);
      value >>= 7;
    } while (value != 0);
    while (count > 1) track.push_back(static_cast<unsigned char>(bytes[--count] | 0x80));
    track.push_back(bytes[0]);
  };
  constexpr unsigned char kNoteOn = 0x90, kNoteOff = 0x80;
  for (const MidiNote& note : notes) {
    quantity(0);
    track.insert(track.end(), {kNoteOn, note.key, note.velocity});
    quantity(note.ticks);
    track.insert(track.end(), {kNoteOff, note.key, 0});
  }
  quantity(0);
  track.insert(track.end(), {0xFF, 0x2F, 0x00});  // end of track

  std::vector<unsigned char> file = {
      'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, kMidiTicksPerBeat >> 8, kMidiTicksPerBeat & 0xFF,
      'M', 'T', 'r', 'k'};
  const auto size = static_cast<std::uint32_t>(track.size());
  for (int shift = 24; shift >= 0; shift -= 8) {
    file.push_back(static_cast<unsigned char>(size >> shift));
  }
  file.insert(file.end(), track.begin(), track.end());
  return file;
}

}  // namespace lumaro::tools
