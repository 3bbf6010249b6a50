#include "shell/terminal_view.h"

#include <algorithm>
#include <cstdio>

#include "platform/headless/headless_dialog.h"
#include "platform/text.h"
#include "resources/control_ids.h"

namespace lumaro::shell {
namespace {

namespace res = resources;
namespace ui = platform::ui;

constexpr int kMinBarWidth = 10;
constexpr int kViewLines = 3;
constexpr std::string_view kClearLine = "\x1b[2K\r";

// Cuts a text to `width` characters (UTF-16 units, close enough for a status line).
std::string Fit(std::u16string_view text, int width) {
  if (width > 0 && text.size() > static_cast<std::size_t>(width)) text = text.substr(0, width);
  return platform::Utf16ToUtf8(text);
}

}  // namespace

KeyAction MapKey(std::string_view key) {
  struct Entry {
    std::string_view bytes;
    KeyAction action;
  };
  static constexpr Entry kKeys[] = {
      {"\x1b[D", {KeyAction::kSeek, ui::kLineLeft}},
      {"\x1b[C", {KeyAction::kSeek, ui::kLineRight}},
      {"\x1b[5~", {KeyAction::kSeek, ui::kPageLeft}},
      {"\x1b[6~", {KeyAction::kSeek, ui::kPageRight}},
      {"\x1b[H", {KeyAction::kSeek, ui::kLeftmost}},
      {"\x1b[1~", {KeyAction::kSeek, ui::kLeftmost}},
      {"\x1bOH", {KeyAction::kSeek, ui::kLeftmost}},
      {"\x1b[F", {KeyAction::kSeek, ui::kRightmost}},
      {"\x1b[4~", {KeyAction::kSeek, ui::kRightmost}},
      {"\x1bOF", {KeyAction::kSeek, ui::kRightmost}},
      {"\x1b[A", {KeyAction::kPreviousTrack, 0}},
      {"\x1b[B", {KeyAction::kNextTrack, 0}},
      {"s", {KeyAction::kStop, 0}},
      {"q", {KeyAction::kClose, 0}},
  };
  for (const Entry& entry : kKeys) {
    if (entry.bytes == key) return entry.action;
  }
  return {};
}

void SendKey(ui::HeadlessDialog& window, const KeyAction& action) {
  switch (action.kind) {
    case KeyAction::kSeek:
      window.Send(ui::HScroll{res::kIdSeekBar, action.scrollCode});
      window.Send(ui::HScroll{res::kIdSeekBar, ui::kEndScroll});
      break;
    case KeyAction::kPreviousTrack:
    case KeyAction::kNextTrack: {
      const int count = window.ComboCount(res::kIdPlayList);
      if (count < 1 || !window.IsVisible(res::kIdPlayList)) break;
      const int step = action.kind == KeyAction::kNextTrack ? 1 : count - 1;
      const int selection = (window.ComboSelection(res::kIdPlayList) + step) % count;
      (void)window.ComboSelect(res::kIdPlayList, selection);
      window.Send(ui::Command{res::kIdPlayList, ui::kSelChange});
      break;
    }
    case KeyAction::kStop:
      window.Send(ui::Command{res::kIdStopButton, 0});
      break;
    case KeyAction::kClose:
      window.Send(ui::Close{});
      break;
    case KeyAction::kNone:
      break;
  }
}

std::string RenderView(const ui::Dialog& window, int width) {
  std::u16string first = window.Text(res::kIdFileText);
  const int selection = window.ComboSelection(res::kIdPlayList);
  if (window.IsVisible(res::kIdPlayList) && selection >= 0) {
    first = platform::Utf8ToUtf16("[" + std::to_string(selection + 1) + "/" +
                                  std::to_string(window.ComboCount(res::kIdPlayList)) + "] ") +
            window.ComboItem(res::kIdPlayList, selection);
  }
  std::string view = Fit(first, width) + "\n" + Fit(window.Text(res::kIdStatusLine), width) + "\n";
  if (window.IsVisible(res::kIdSeekBar)) {
    const std::string time = platform::Utf16ToUtf8(window.Text(res::kIdTimeText));
    const int barWidth = std::max(kMinBarWidth, width - static_cast<int>(time.size()) - 3);
    int minimum = 0;
    int maximum = 0;
    (void)window.ScrollRange(res::kIdSeekBar, &minimum, &maximum);
    const int span = std::max(1, maximum - minimum);
    const int position = std::clamp(window.ScrollPosition(res::kIdSeekBar), minimum, maximum);
    const int filled = (position - minimum) * barWidth / span;
    view += "[" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "] " + time;
  }
  return view + "\n";
}

void Terminal::Draw(const ui::Dialog& window) {
  const std::string view = RenderView(window, Width());
  if (view == shown_) return;
  std::string out;
  if (lines_ > 0) out += "\x1b[" + std::to_string(lines_) + "F";  // back to the view's top
  lines_ = 0;
  std::size_t start = 0;
  while (start < view.size()) {
    const std::size_t end = view.find('\n', start);
    out += std::string(kClearLine) + view.substr(start, end - start) + "\n";
    ++lines_;
    start = end + 1;
  }
  while (lines_ < kViewLines) {  // a shorter view clears what the longer one left
    out += std::string(kClearLine) + "\n";
    ++lines_;
  }
  std::fputs(out.c_str(), stdout);
  std::fflush(stdout);
  shown_ = view;
}

void Terminal::Finish() { std::fflush(stdout); }

}  // namespace lumaro::shell
