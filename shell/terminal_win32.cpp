// The terminal of the live view on Windows: the console, with its virtual-terminal sequences for
// drawing and its key events turned into the byte sequences a terminal sends for those keys.
#include <atomic>

#include "platform/win32/win32_api.h"
#include "shell/terminal_view.h"

namespace lumaro::shell {
namespace {

constexpr int kDefaultWidth = 80;

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

// The bytes a terminal sends for a virtual key, or "" for keys the view does not use.
std::string BytesOfKey(const KEY_EVENT_RECORD& key) {
  switch (key.wVirtualKeyCode) {
    case VK_LEFT:
      return "\x1b[D";
    case VK_RIGHT:
      return "\x1b[C";
    case VK_UP:
      return "\x1b[A";
    case VK_DOWN:
      return "\x1b[B";
    case VK_PRIOR:
      return "\x1b[5~";
    case VK_NEXT:
      return "\x1b[6~";
    case VK_HOME:
      return "\x1b[H";
    case VK_END:
      return "\x1b[F";
    default:
      break;
  }
  const wchar_t c = key.uChar.UnicodeChar;
  return c > 0 && c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string();
}

}  // namespace

struct Terminal::Saved {
  DWORD input = 0;
  DWORD output = 0;
};

namespace {
// The modes the live Terminal changed, for RestoreForExit: written before `changed` is raised.
DWORD processInput = 0;
DWORD processOutput = 0;
std::atomic<bool> changed{false};
}  // namespace

bool Terminal::Interactive() { return IsConsole(STD_INPUT_HANDLE) && IsConsole(STD_OUTPUT_HANDLE); }

Terminal::Terminal() {
  saved_ = new Saved;
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (::GetConsoleMode(in, &saved_->input) && ::GetConsoleMode(out, &saved_->output)) {
    // Keys one by one and not echoed (Ctrl-C still ends the program); sequences drawn.
    raw_ = ::SetConsoleMode(
               in, (saved_->input & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) |
                       ENABLE_PROCESSED_INPUT) &&
           ::SetConsoleMode(
               out, saved_->output | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    processInput = saved_->input;
    processOutput = saved_->output;
    changed = raw_;
  }
}

Terminal::~Terminal() {
  if (raw_) RestoreForExit();
  delete saved_;
}

void Terminal::RestoreForExit() noexcept {
  if (!changed.exchange(false)) return;
  ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), processInput);
  ::SetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), processOutput);
}

std::optional<std::string> Terminal::ReadKey() {
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD waiting = 0;
  while (::GetNumberOfConsoleInputEvents(in, &waiting) && waiting > 0) {
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!::ReadConsoleInputW(in, &record, 1, &read) || read == 0) break;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    std::string bytes = BytesOfKey(record.Event.KeyEvent);
    if (!bytes.empty()) return bytes;
  }
  return std::nullopt;
}

int Terminal::Width() const {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 1) return columns - 1;
  }
  return kDefaultWidth;
}

}  // namespace lumaro::shell
