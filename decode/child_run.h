#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/buffer_slot.h"
#include "dsp/paged_buffer.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// The common run of an outside program whose standard output is the decoded stream: the child
// started from an argument vector, its input closed at once, its whole output collected in a
// PagedBuffer, and a watchdog thread that ends a child which stays silent for a whole window.

// The watchdog's clock: it looks every tick, and a window of ticks without any output ends the
// child. A stop request ends the current window after its tick.
struct WatchdogTiming {
  std::uint32_t tickMilliseconds = 100;
  std::uint32_t ticksPerWindow = 600;  // 60 seconds
};
inline constexpr WatchdogTiming kWatchdogTiming{};

// Read areas of the two readers of decoded audio and of the FM-music child. The output goes
// straight into the store; the area is only needed once the store has no room left.
inline constexpr std::uint64_t kAudioReadPieceBytes = 141120;
inline constexpr std::uint64_t kFmReadPieceBytes = 35280;

// The longest program path the readers take (a 260-unit buffer, its terminator and a unit that
// tells a cut answer).
inline constexpr std::size_t kMaxProgramPath = 258;

// A command line is refused when (its length in characters + 1) x 8 reaches this.
inline constexpr std::uint64_t kCommandLineLimit = 8191;
inline constexpr std::uint64_t kCommandLineUnitBytes = 8;

// True when a command line of `characters` units is within the limit.
constexpr bool CommandLineFits(std::uint64_t characters) {
  return (characters + 1) * kCommandLineUnitBytes < kCommandLineLimit;
}

struct ChildRun {
  std::u16string program;                 // full path
  std::vector<std::u16string> arguments;  // the words after the program's name
  std::uint64_t readPieceBytes = kAudioReadPieceBytes;
};

// Runs the child to the end of its output and hands the output over in `output` (from position
// 0). Fails (nonzero, `output` empty) when no store, pipe or thread can be had, the child does
// not start, a stop is requested while output arrives, the store refuses bytes, or the watchdog
// ended the child. The child is gone (ended if it still ran) and the watchdog joined on every
// path. Playback thread; `stop` is read by the watchdog too.
[[nodiscard]] Result RunChild(const ChildRun& run, const platform::StopWord& stop,
                              std::unique_ptr<dsp::PagedBuffer>* output,
                              WatchdogTiming timing = kWatchdogTiming);

// The full path of `programFileName` beside the running program, for a run on `inputPath`. Fails
// when the program's path is empty or longer than kMaxProgramPath, or when the program or the
// input is missing or a directory.
[[nodiscard]] Result FindBesideProgram(std::u16string_view programFileName,
                                       std::u16string_view inputPath, std::u16string* program);

// Builds an AudioBuffer (lead-in 48) of `frames` stereo frames of little-endian doubles that
// lie in `store` from `offset`, and puts it in `slot`; a non-finite value becomes 0.0. Fails
// (slot empty) when the buffer is refused or the store holds fewer bytes.
[[nodiscard]] Result CopyFloatFrames(dsp::PagedBuffer& store, std::uint64_t offset,
                                     std::uint64_t frames, std::uint32_t sampleRate,
                                     dsp::BufferSlot& slot);

// True when `path` names an existing file that is not a directory.
[[nodiscard]] bool IsExistingFile(std::u16string_view path);

// The directory of the running program when its path is usable (1 to kMaxProgramPath units);
// false otherwise.
[[nodiscard]] bool ProgramDirectory(std::u16string* directory);

}  // namespace lumaro::decode
