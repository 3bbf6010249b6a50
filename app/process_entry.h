#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "context/app_context.h"
#include "platform/services.h"

namespace lumaro::app {

inline constexpr std::u16string_view kFmChildSwitch = u"/FMPMD";

// How long the process waits, on exit, for a playback to leave the gate before it gives up on
// freeing the AppContext.
inline constexpr std::uint32_t kExitWaitMilliseconds = 10000;

// True when the arguments (the program's name first) ask for the FM-music child: more than two
// of them, and the first after the name is "/FMPMD" in any letter case.
bool IsFmChildMode(const std::vector<std::u16string>& args);

// Asks any running playback to stop and waits until none holds the gate and every playback
// thread has ended (one not yet at the gate included), at most `milliseconds`. Answers true when
// none is left. Any thread.
[[nodiscard]] bool WaitForPlaybackEnd(context::AppContext& app, std::uint32_t milliseconds);

// How long the windows wait for a playback to leave before they rebuild or free the settings
// lists it may read.
inline constexpr std::uint32_t kSettingsWaitMilliseconds = 10000;

// What the process runs in each of its two lives.
struct EntryHooks {
  // The FM-music child procedure; it reads its arguments from app.ArgVector. Default: RunFmChild,
  // with the libraries beside the program and its PCM on standard output.
  std::function<void(context::AppContext&)> runFmChild;
  // Runs the main window modally until it ends (the settings are initialised, the scan tool
  // has its start-up values). Default: nothing.
  std::function<void(context::AppContext&)> runMainWindow;
  // The program's path for the settings initialisation; empty: the running program.
  std::u16string programPath;
};

// The process entry: creates the AppContext with the arguments, then either runs the FM-music
// child or initialises the settings, gives the scan tool its start-up values and runs the main
// window. Every start-up failure ends silently. On the way out it stops playback and waits for
// the gate before freeing the AppContext; if a playback does not leave in time the AppContext is
// left to the end of the process rather than freed under it. Answers 0 on every path.
int ProcessEntry(const std::vector<std::u16string>& args, platform::Services& services,
                 const EntryHooks& hooks);

}  // namespace lumaro::app
