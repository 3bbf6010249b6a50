// A stand-in for the outside decoding programs (ffmpeg, fluidsynth) in tests: it takes either
// program's command line and does what a script tells it. The script is the file after "-i", or
// else the last argument (the MIDI file of fluidsynth's line), so a test chooses the behaviour
// by the content of the file it hands to the reader. One command a line:
//
//   write TEXT            TEXT (the rest of the line) on standard output
//   copy PATH             the bytes of the file PATH on standard output
//   error COUNT           COUNT bytes on standard error
//   drain                 standard input read to its end
//   sleep MS              a pause
//   drip COUNT MS TEXT    TEXT on standard output COUNT times, MS apart
//   flood                 64 KiB pieces on standard output, 10 ms apart, until a write fails
//   run PATH              a copy of this program on the script PATH, sharing the standard
//                         output, waited for
//   exit CODE             the end, with CODE
//
// The end of the script ends the program with 0. An unknown command or a failed write ends it
// with a failure code.
#include "platform/sim/component_standin.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/text.h"

namespace lumaro::platform::sim::standin {
namespace {

constexpr int kExitUsage = 2;
constexpr int kExitWriteFailed = 3;
constexpr int kExitNoCopy = 4;
constexpr std::size_t kFloodPieceBytes = 64 * 1024;
constexpr std::uint32_t kFloodPauseMs = 10;

// The script's path: the word after "-i", else the last word.
std::u16string ScriptPath(const std::vector<std::u16string>& arguments) {
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == u"-i") return arguments[i + 1];
  }
  return arguments.empty() ? std::u16string() : arguments.back();
}

bool Write(std::string_view bytes) {
  return platform::WriteStandardOutput(bytes.data(), bytes.size());
}

// The rest of `line` after the separating space.
std::string Rest(std::istringstream& line) {
  std::string rest;
  std::getline(line >> std::ws, rest);
  return rest;
}

// Runs one command; answers the exit code that ends the program, or -1 to go on.
int Run(const std::string& text) {
  std::istringstream line(text);
  std::string command;
  line >> command;
  if (command.empty()) return -1;
  if (command == "write") return Write(Rest(line)) ? -1 : kExitWriteFailed;
  if (command == "copy") {
    std::ifstream file(std::filesystem::path(platform::Utf8ToUtf16(Rest(line))), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    return file && Write(bytes) ? -1 : kExitWriteFailed;
  }
  if (command == "error") {
    std::size_t count = 0;
    line >> count;
    std::cerr << std::string(count, 'e') << std::flush;
    return -1;
  }
  if (command == "drain") {
    std::cin.ignore(std::numeric_limits<std::streamsize>::max());
    return -1;
  }
  if (command == "sleep") {
    std::uint32_t ms = 0;
    line >> ms;
    platform::SleepMilliseconds(ms);
    return -1;
  }
  if (command == "drip") {
    int count = 0;
    std::uint32_t ms = 0;
    line >> count >> ms;
    const std::string piece = Rest(line);
    for (int i = 0; i < count; ++i) {
      if (!Write(piece)) return kExitWriteFailed;
      platform::SleepMilliseconds(ms);
    }
    return -1;
  }
  if (command == "flood") {
    const std::string piece(kFloodPieceBytes, '\0');
    while (Write(piece)) platform::SleepMilliseconds(kFloodPauseMs);
    return kExitWriteFailed;
  }
  if (command == "run") {
    return RunCopy(platform::Utf8ToUtf16(Rest(line))) ? -1 : kExitNoCopy;
  }
  if (command == "exit") {
    int code = 0;
    line >> code;
    return code;
  }
  std::cerr << "stand-in: unknown command " << command << "\n";
  return kExitUsage;
}

}  // namespace
}  // namespace lumaro::platform::sim::standin

int main(int argc, char** argv) {
  using namespace lumaro::platform::sim::standin;
  std::ifstream script(std::filesystem::path(ScriptPath(Arguments(argc, argv))));
  if (!script) {
    std::cerr << "stand-in: no script\n";
    return kExitUsage;
  }
  for (std::string line; std::getline(script, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (const int code = Run(line); code >= 0) return code;
  }
  return 0;
}
