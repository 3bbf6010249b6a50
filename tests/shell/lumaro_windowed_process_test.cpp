// Lumaro.exe as a process: its main window appears with its controls, closes cleanly when asked,
// and the process ends with 0 in both of its lives.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "platform/win32/win32_api.h"
#include "resources/control_ids.h"
#include "resources/status_texts.h"
#include "tests/support/temp_tree.h"

namespace lumaro::testing {
namespace {

namespace res = resources;
using namespace std::chrono_literals;

constexpr DWORD kExitWaitMs = 30000;
constexpr auto kWindowWait = 30s;

// A started Lumaro.exe, killed if it is still running at the end.
class WindowedProgram {
 public:
  WindowedProgram(const std::vector<std::u16string>& args, const std::u16string& directory) {
    const std::u16string program = platform::Utf8ToUtf16(LUMARO_WINDOWED_PROGRAM);
    std::wstring line = L"\"" + std::wstring(program.begin(), program.end()) + L"\"";
    for (const std::u16string& arg : args)
      line += L" \"" + std::wstring(arg.begin(), arg.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const std::wstring dir(directory.begin(), directory.end());
    started_ = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                dir.c_str(), &startup, &info_) != FALSE;
    if (started_) ::CloseHandle(info_.hThread);
  }
  ~WindowedProgram() {
    if (!started_) return;
    if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
      ::TerminateProcess(info_.hProcess, 1);
    ::CloseHandle(info_.hProcess);
  }
  bool Started() const { return started_; }

  // The process's top-level window with `caption`, waited for; nullptr if none comes.
  HWND FindWindow(std::u16string_view caption) const {
    const auto deadline = std::chrono::steady_clock::now() + kWindowWait;
    while (std::chrono::steady_clock::now() < deadline) {
      Search search{info_.dwProcessId, std::wstring(caption.begin(), caption.end()), nullptr};
      ::EnumWindows(&Search::Visit, reinterpret_cast<LPARAM>(&search));
      if (search.found != nullptr) return search.found;
      if (::WaitForSingleObject(info_.hProcess, 0) != WAIT_TIMEOUT) return nullptr;
      std::this_thread::sleep_for(20ms);
    }
    return nullptr;
  }
  // The exit code, or -1 when the process does not end in time.
  long ExitCode() const {
    if (::WaitForSingleObject(info_.hProcess, kExitWaitMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    return ::GetExitCodeProcess(info_.hProcess, &code) ? static_cast<long>(code) : -1;
  }

 private:
  struct Search {
    DWORD process;
    std::wstring caption;
    HWND found;
    static BOOL CALLBACK Visit(HWND window, LPARAM l) {
      auto* s = reinterpret_cast<Search*>(l);
      DWORD owner = 0;
      ::GetWindowThreadProcessId(window, &owner);
      wchar_t text[64] = {};
      ::GetWindowTextW(window, text, 64);
      if (owner == s->process && s->caption == text) {
        s->found = window;
        return FALSE;
      }
      return TRUE;
    }
  };
  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

// The player opens its main window whatever its arguments (files are not played: nothing is
// written), and ends with 0 when the window is closed.
TEST(LumaroWindowedTest, MainWindowAppearsWithItsControlsAndClosesCleanly) {
  TempTree tree;
  const std::u16string song = tree.File(u"song.wav", "not played");
  for (const std::vector<std::u16string>& args :
       {std::vector<std::u16string>{}, {song}, {u"/FMPMD"}, {u"/fmpmd"}}) {
    SCOPED_TRACE(args.empty() ? "no arguments" : platform::Utf16ToUtf8(args[0]));
    WindowedProgram program(args, tree.root());
    ASSERT_TRUE(program.Started());
    HWND window = program.FindWindow(res::kMainCaption);
    ASSERT_NE(window, nullptr);
    for (int id : {res::kIdFileText, res::kIdPlayList, res::kIdStatusLine, res::kIdSeekBar,
                   res::kIdTimeText, res::kIdStopButton}) {
      EXPECT_NE(::GetDlgItem(window, id), nullptr) << id;
    }
    wchar_t text[64] = {};
    ::GetDlgItemTextW(window, res::kIdFileText, text, 64);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), res::kTextDropHere);
    ASSERT_TRUE(::PostMessageW(window, WM_CLOSE, 0, 0));
    EXPECT_EQ(program.ExitCode(), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(tree.Path(u"lumaro-output.wav"))));
}

// Started as the FM-music child with too few entries, the process ends at once, silently.
TEST(LumaroWindowedTest, FmChildWithTooFewArgumentsEndsAtOnceWithoutAWindow) {
  TempTree tree;
  WindowedProgram program({u"/FMPMD", u"x"}, tree.root());
  ASSERT_TRUE(program.Started());
  EXPECT_EQ(program.ExitCode(), 0);
}

}  // namespace
}  // namespace lumaro::testing
