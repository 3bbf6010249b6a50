#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "context/app_context.h"
#include "platform/result.h"

namespace lumaro::app {

// Why the FM-music child ended without its whole output. None of them reaches anyone: the child
// exits with 0 either way, and its parent judges it by the frames it received.
enum : Result {
  kFmChildArguments = FirstCode(FailureSite::kFmChild),  // not 5 entries, or no "/FMPMD"
  kFmChildExtension,         // the piece's extension names neither library
  kFmChildAnsiPath,          // the piece's path does not survive the narrow code page
  kFmChildLibraryMissing,    // no library file beside the program
  kFmChildLibraryLoad,       // the library would not load
  kFmChildEntryMissing,      // an entry point the child needs is not exported
  kFmChildVersion,           // the library's version is outside what the child drives
  kFmChildInterfaceVersion,  // its interface version is too old
  kFmChildInit,              // initialising refused
  kFmChildPcmDir,            // the PCM directories refused
  kFmChildLoad,              // the piece did not load
  kFmChildLength,            // the piece's length could not be read
  kFmChildOutput,            // no output to write to
  kFmChildWrite,             // a write failed or fell short (the reader has gone)
  kFmChildOutOfMemory,
};

// Where the child's PCM goes: writes all of `count` bytes, or answers false.
using PcmOutput = std::function<bool(const void* bytes, std::uint64_t count)>;

// The FM-music child: reads its arguments from app.ArgVector ("/FMPMD", the piece's path, the PPS
// and SSG+RHY switches after the program's name), loads WinFMP or PMDWin from
// `programDirectory`, renders the piece once through its length and once through its loop as
// raw 16-bit stereo PCM at 44,100 Hz, then its fade-out where the library has one, and hands the
// bytes to `output`, nothing else. Answers kOk when all of it was written, one of the codes above
// otherwise (noted on the calling thread's failure chain). Single-threaded: the library's calls
// all come from the calling thread.
[[nodiscard]] Result RunFmChild(context::AppContext& app, std::u16string_view programDirectory,
                                const PcmOutput& output);

// The child as the process runs it: the libraries beside the running program, the PCM to
// standard output.
[[nodiscard]] Result RunFmChild(context::AppContext& app);

}  // namespace lumaro::app
