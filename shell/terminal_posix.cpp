// The terminal of the live view on POSIX systems.
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>

#include "shell/terminal_view.h"

namespace lumaro::shell {
namespace {
constexpr int kDefaultWidth = 80;
// The settings the live Terminal changed, for RestoreForExit: written before `changed` is raised.
termios processSettings{};
std::atomic<bool> changed{false};
}  // namespace

bool Terminal::Interactive() { return isatty(STDOUT_FILENO) && isatty(STDIN_FILENO); }

struct Terminal::Saved {
  termios settings;
};

Terminal::Terminal() {
  saved_ = new Saved;
  if (tcgetattr(STDIN_FILENO, &saved_->settings) == 0) {
    termios raw = saved_->settings;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    processSettings = saved_->settings;
    raw_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    changed = raw_;
  }
}

Terminal::~Terminal() {
  if (raw_) RestoreForExit();
  delete saved_;
}

void Terminal::RestoreForExit() noexcept {
  if (changed.exchange(false)) (void)tcsetattr(STDIN_FILENO, TCSANOW, &processSettings);
}

std::optional<std::string> Terminal::ReadKey() {
  char bytes[8];
  const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
  if (count <= 0) return std::nullopt;
  return std::string(bytes, static_cast<std::size_t>(count));
}

int Terminal::Width() const {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col - 1;
  return kDefaultWidth;
}

}  // namespace lumaro::shell
