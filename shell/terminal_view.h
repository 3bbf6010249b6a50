#pragma once

#include <optional>
#include <string>

#include "platform/headless/headless_dialog.h"
#include "platform/ui.h"

namespace lumaro::shell {

// What a key asks of the main window.
struct KeyAction {
  enum Kind { kNone, kSeek, kPreviousTrack, kNextTrack, kStop, kClose } kind = kNone;
  int scrollCode = 0;  // for kSeek
};

// Maps one key (the bytes a terminal sends for it) to an action: ←/→ a second, PgUp/PgDn ten
// seconds, Home/End the start/end of the track, ↑/↓ the previous/next track, "s" stop, "q" close.
KeyAction MapKey(std::string_view keyBytes);

// Sends `window` the messages of an action, as the user's key would on the main window: a seek
// (the scroll code, then its end), the play-list box moved one entry (wrapping) and its change
// announced, the stop button, or a close. The window's thread.
void SendKey(platform::ui::HeadlessDialog& window, const KeyAction& action);

// The three lines of the live view: the file (or the play-list entry being played), the status
// line, and the seek bar as a progress bar followed by the time text. `width` is the terminal's.
std::string RenderView(const platform::ui::Dialog& window, int width);

// The terminal while the live view runs: keys unbuffered and not echoed (Ctrl-C still a signal),
// restored when destroyed. Reads and draws on one thread.
class Terminal {
 public:
  // True when standard input and output are both a terminal (a console on Windows).
  static bool Interactive();
  Terminal();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // The bytes of one key if one is waiting, else nullopt (does not block).
  std::optional<std::string> ReadKey();
  // Redraws the view when it changed.
  void Draw(const platform::ui::Dialog& window);
  // Leaves the cursor below the view.
  void Finish();
  // Gives the terminal back the settings the live Terminal found, from any thread, for a process
  // about to end without destroying it; nothing when no Terminal changed them.
  static void RestoreForExit() noexcept;
  int Width() const;

 private:
  bool raw_ = false;
  std::string shown_;
  int lines_ = 0;
  struct Saved;
  Saved* saved_ = nullptr;
};

}  // namespace lumaro::shell
