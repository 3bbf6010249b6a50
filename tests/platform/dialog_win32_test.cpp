// The Windows dialog host driven in process: real dialog boxes from the player's templates, real
// drops, writes from other threads, and the main window playing a file to the File output.
#include "platform/win32/dialog_win32.h"

#include <gtest/gtest.h>

#include "platform/win32/win32_api.h"
// After windows.h:
#include <shellapi.h>
#include <shlobj.h>

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "app/init_settings.h"
#include "app/main_window.h"
#include "app/process_entry.h"
#include "engine/playback_thread.h"
#include "platform/file_output/file_output.h"
#include "resources/dialog_templates.h"
#include "tests/support/audio_files.h"
#include "tests/support/string_list.h"
#include "tests/support/temp_tree.h"

namespace lumaro::testing {
namespace {

namespace res = resources;
namespace ui = platform::ui;
using namespace std::chrono_literals;

constexpr auto kShowWait = 20s;

// A dialog run on a user-interface thread of its own, closed (WM_CLOSE) at the end.
class WindowThread {
 public:
  WindowThread(std::u16string_view name, ui::DialogBehaviour& behaviour) {
    dialog_.SetOnShown([this](ui::Win32Dialog&) { shown_.set_value(); });
    std::future<void> shown = shown_.get_future();
    thread_ = std::thread([this, name, &behaviour] { result_ = dialog_.Run(name, behaviour); });
    shownInTime_ = shown.wait_for(kShowWait) == std::future_status::ready;
  }
  ~WindowThread() { (void)Close(); }

  bool Shown() const { return shownInTime_; }
  HWND Window() const { return static_cast<HWND>(dialog_.NativeWindow()); }
  ui::Win32Dialog& Dialog() { return dialog_; }
  // Asks the window to close and answers what its run answered.
  std::intptr_t Close() {
    if (thread_.joinable()) {
      if (HWND window = Window()) ::PostMessageW(window, WM_CLOSE, 0, 0);
      thread_.join();
    }
    return result_;
  }

 private:
  ui::Win32Dialog dialog_{res::kDialogResources};
  std::promise<void> shown_;
  std::thread thread_;
  std::intptr_t result_ = -2;
  bool shownInTime_ = false;
};

// A drop as the shell hands it over: DROPFILES and the wide paths, each ended by a NUL, then one
// more NUL. The receiver frees it (DragFinish).
HDROP MakeDrop(const std::vector<std::u16string>& paths) {
  std::u16string names;
  for (const std::u16string& path : paths) names += path + u'\0';
  names += u'\0';
  HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(char16_t));
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(),
              names.size() * sizeof(char16_t));
  ::GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

std::u16string ClassName(HWND window) {
  wchar_t name[64] = {};
  const int length = ::GetClassNameW(window, name, 64);
  return platform::FromWide(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

// Waits until `done` holds; false after `limit`.
template <class Done>
bool WaitFor(Done&& done, std::chrono::milliseconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A behaviour made of a function.
struct Behave final : ui::DialogBehaviour {
  std::function<void(ui::Dialog&, const ui::Message&)> on;
  std::intptr_t OnMessage(ui::Dialog& dialog, const ui::Message& message) override {
    on(dialog, message);
    return 0;
  }
};

// The window class each kind of control is made of, by ControlKind.
constexpr std::array<std::u16string_view, 9> kClassOfKind{u"Static",   u"Static",    u"ComboBox",
                                                          u"ComboBox", u"ScrollBar", u"Button",
                                                          u"Button",   u"Button",    u"Edit"};

TEST(Win32DialogTest, EveryTemplateBuildsItsControlsAndEndsWithItsResult) {
  constexpr std::intptr_t kEnded = 7;
  for (const ui::DialogTemplate& t : res::kDialogTemplates) {
    SCOPED_TRACE(platform::Utf16ToUtf8(t.name));
    Behave check;
    check.on = [&t](ui::Dialog& dialog, const ui::Message& message) {
      if (!std::holds_alternative<ui::InitDialog>(message)) return;
      HWND window = static_cast<HWND>(static_cast<ui::Win32Dialog&>(dialog).NativeWindow());
      for (const ui::ControlTemplate& control : t.controls) {
        HWND item = ::GetDlgItem(window, control.id);
        if (control.id == res::kIdNoControl) continue;
        EXPECT_EQ(ClassName(item), kClassOfKind[static_cast<std::size_t>(control.kind)])
            << control.id;
        if (ClassName(item) != u"ComboBox") {
          EXPECT_EQ(dialog.Text(control.id), control.text);
        }
      }
      EXPECT_EQ(dialog.Caption(), t.caption);
      dialog.EndDialog(kEnded);
    };
    ui::Win32Dialog dialog(res::kDialogResources);
    EXPECT_EQ(dialog.Run(t.name, check), kEnded);
    EXPECT_EQ(dialog.NativeWindow(), nullptr);
  }
  ui::Win32Dialog dialog(res::kDialogResources);
  Behave none;
  EXPECT_EQ(dialog.Run(u"DIALOG_NONE", none), -1);
}

// Writes from another thread reach the window in order before any later read; a real drop
// arrives whole in the shell's order; once the window is gone nothing reaches it.
TEST(Win32DialogTest, WritesFromOtherThreadsArriveInOrderAndDropsWhole) {
  constexpr std::intptr_t kClosed = 3;
  std::mutex mutex;
  std::vector<std::u16string> dropped;
  Behave recorder;
  recorder.on = [&](ui::Dialog& dialog, const ui::Message& message) {
    if (std::holds_alternative<ui::InitDialog>(message)) dialog.AcceptDrops(true);
    if (const auto* drop = std::get_if<ui::DropFiles>(&message)) {
      std::lock_guard<std::mutex> lock(mutex);
      dropped = drop->paths;
    }
    if (std::holds_alternative<ui::Close>(message)) dialog.EndDialog(kClosed);
  };
  WindowThread window(res::kMainDialog.name, recorder);
  ASSERT_TRUE(window.Shown());
  ui::Win32Dialog& dialog = window.Dialog();
  constexpr int kWrites = 500;
  const std::u16string path = u"C:\\music\\a very long folder name\\that does not fit\\track.wav";
  std::thread writer([&] {
    for (int i = 0; i < kWrites; ++i)
      dialog.SetText(res::kIdStatusLine, platform::Utf8ToUtf16(std::to_string(i)));
    for (const char16_t* title : {u"b", u"a", u"c"})
      EXPECT_EQ(dialog.ComboAdd(res::kIdPlayList, title), 0);
    EXPECT_TRUE(dialog.ComboSelect(res::kIdPlayList, 2));
    dialog.Show(res::kIdStopButton, true);
    dialog.ScrollSetRange(res::kIdSeekBar, 0, 300, false);
    dialog.ScrollSetPosition(res::kIdSeekBar, 42, true);
    dialog.SetPathText(res::kIdFileText, path);
  });
  writer.join();
  EXPECT_EQ(dialog.Text(res::kIdStatusLine), platform::Utf8ToUtf16(std::to_string(kWrites - 1)));
  EXPECT_EQ(dialog.ComboCount(res::kIdPlayList), 3);
  EXPECT_EQ(dialog.ComboItem(res::kIdPlayList, 0), u"b");  // drop order, not sorted
  EXPECT_EQ(dialog.ComboSelection(res::kIdPlayList), 2);
  EXPECT_TRUE(dialog.IsVisible(res::kIdStopButton));
  int low = -1, high = -1;
  EXPECT_TRUE(dialog.ScrollRange(res::kIdSeekBar, &low, &high));
  EXPECT_EQ(high, 300);
  EXPECT_EQ(dialog.ScrollPosition(res::kIdSeekBar), 42);
  EXPECT_EQ(dialog.Text(res::kIdFileText), path);
  EXPECT_FALSE(dialog.IsVisible(4242));  // no such control

  const std::vector<std::u16string> paths{u"C:\\m\\b.wav", u"C:\\m\\\u00e9t\u00e9\\a.flac",
                                          u"C:\\m\\\u97f3\u697d.dsf"};
  ASSERT_TRUE(
      ::PostMessageW(window.Window(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0));
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return dropped == paths;
  }));
  EXPECT_EQ(window.Close(), kClosed);
  dialog.SetText(res::kIdStatusLine, u"late");
  EXPECT_EQ(dialog.Text(res::kIdStatusLine), u"");
  EXPECT_EQ(dialog.ComboAdd(res::kIdPlayList, u"late"), -1);
}

// The player's main window on real windows: the configuration dialog from its menu command runs
// modally (owned, the owner disabled meanwhile, closed by its close box), and a drop plays the
// file once to the File output, after which the window is idle again.
TEST(Win32DialogTest, MainWindowRunsTheConfigurationModallyAndPlaysADrop) {
  TempTree tree;
  const std::u16string output = tree.Path(u"out.wav");
  platform::file_output::FileOutputSystem fileOutput({.path = output, .paced = false});
  platform::Services services;
  services.endpoints = &fileOutput;
  context::AppContext app;
  app.Services = &services;
  ASSERT_EQ(app::InitSettings(app, tree.File(u"Lumaro.exe")), kOk);
  app.PlayOnce = 1;
  app::MainWindow behaviour(app);
  WindowThread window(res::kMainDialog.name, behaviour);
  ASSERT_TRUE(window.Shown());
  ui::Win32Dialog& dialog = window.Dialog();
  EXPECT_EQ(dialog.Caption(), res::kMainCaption);
  EXPECT_FALSE(dialog.IsVisible(res::kIdStopButton));

  ASSERT_TRUE(::PostMessageW(window.Window(), WM_COMMAND, res::kIdMenuConfiguration, 0));
  HWND child = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (child = ::FindWindowW(L"#32770", L"Configuration")); }));
  EXPECT_EQ(::GetWindow(child, GW_OWNER), window.Window());
  EXPECT_TRUE(WaitFor([&] { return !::IsWindowEnabled(window.Window()); }));
  // Findable once made: its behaviour fills it while the dialog initialises.
  EXPECT_TRUE(WaitFor(
      [&] { return ::SendDlgItemMessageW(child, res::kIdConfigDevice, CB_GETCOUNT, 0, 0) >= 1; }));
  ASSERT_TRUE(::PostMessageW(child, WM_CLOSE, 0, 0));
  ASSERT_TRUE(WaitFor([&] { return ::IsWindowEnabled(window.Window()) != FALSE; }));

  Bytes samples;
  for (int i = 0; i < 44100; ++i) samples.push_back(static_cast<std::uint8_t>(i * 7));
  const std::u16string song = tree.Path(u"song.wav");
  ASSERT_TRUE(WriteFileBytes(song, MakeWav({}, samples)));
  ASSERT_TRUE(
      ::PostMessageW(window.Window(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({song})), 0));
  ASSERT_TRUE(WaitFor([&] { return !fileOutput.WrittenFiles().empty(); }));
  ASSERT_TRUE(WaitFor([&] { return engine::RunningPlaybackThreads() == 0; }));
  EXPECT_EQ(app.Failures.LastResult(), kOk);
  EXPECT_EQ(dialog.Text(res::kIdFileText), res::kTextDropHere);
  EXPECT_FALSE(dialog.IsVisible(res::kIdSeekBar));
  EXPECT_GT(ReadFileBytes(output).value_or(Bytes{}).size(), 44U + samples.size());
  EXPECT_EQ(window.Close(), 0);
}

}  // namespace
}  // namespace lumaro::testing
