// The Windows dialog host driven in process: real dialog boxes from the player's templates, real
// drops, writes from other threads, and the main window playing a file to the File output.
#include "platform/win32/dialog_win32.h"

#include <gtest/gtest.h>

#include "platform/win32/win32_api.h"
// After windows.h:
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
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

// Checks every addressed control of its template when shown, then ends with its own code.
class TemplateCheck final : public ui::DialogBehaviour {
 public:
  explicit TemplateCheck(const ui::DialogTemplate& t) : template_(t) {}
  std::intptr_t OnMessage(ui::Dialog& dialog, const ui::Message& message) override {
    if (!std::holds_alternative<ui::InitDialog>(message)) return 0;
    HWND window = static_cast<HWND>(static_cast<ui::Win32Dialog&>(dialog).NativeWindow());
    for (const ui::ControlTemplate& control : template_.controls) {
      if (control.id == res::kIdNoControl) continue;
      HWND item = ::GetDlgItem(window, control.id);
      SCOPED_TRACE(platform::Utf16ToUtf8(template_.name) + " control " +
                   std::to_string(control.id));
      EXPECT_NE(item, nullptr);
      if (item == nullptr) continue;
      EXPECT_EQ(ClassName(item), ExpectedClass(control.kind));
      if (ClassName(item) != u"ComboBox") {
        EXPECT_EQ(dialog.Text(control.id), control.text);
      }
    }
    EXPECT_EQ(dialog.Caption(), template_.caption);
    dialog.EndDialog(kEnded);
    return 0;
  }
  static constexpr std::intptr_t kEnded = 7;

 private:
  static std::u16string ExpectedClass(ui::ControlKind kind) {
    switch (kind) {
      case ui::ControlKind::kStatic:
      case ui::ControlKind::kStaticCentered:
        return u"Static";
      case ui::ControlKind::kDropDownList:
      case ui::ControlKind::kSortedDropDownList:
        return u"ComboBox";
      case ui::ControlKind::kHScrollBar:
        return u"ScrollBar";
      case ui::ControlKind::kMultiLineEdit:
        return u"Edit";
      default:
        return u"Button";
    }
  }
  const ui::DialogTemplate& template_;
};

TEST(Win32DialogTest, EveryTemplateBuildsItsControlsAndEndsWithItsResult) {
  for (const ui::DialogTemplate& t : res::kDialogTemplates) {
    TemplateCheck check(t);
    ui::Win32Dialog dialog(res::kDialogResources);
    EXPECT_EQ(dialog.Run(t.name, check), TemplateCheck::kEnded) << platform::Utf16ToUtf8(t.name);
    EXPECT_EQ(dialog.NativeWindow(), nullptr);
  }
  ui::Win32Dialog dialog(res::kDialogResources);
  TemplateCheck none(res::kMainDialog);
  EXPECT_EQ(dialog.Run(u"DIALOG_NONE", none), -1);
}

// Records the messages of a dialog that ends when closed.
class Recorder final : public ui::DialogBehaviour {
 public:
  std::intptr_t OnMessage(ui::Dialog& dialog, const ui::Message& message) override {
    if (std::holds_alternative<ui::InitDialog>(message)) dialog.AcceptDrops(true);
    if (const auto* drop = std::get_if<ui::DropFiles>(&message)) {
      std::lock_guard<std::mutex> lock(mutex_);
      drops_.push_back(drop->paths);
    }
    if (std::holds_alternative<ui::Close>(message)) dialog.EndDialog(kClosed);
    return 0;
  }
  std::vector<std::vector<std::u16string>> Drops() {
    std::lock_guard<std::mutex> lock(mutex_);
    return drops_;
  }
  static constexpr std::intptr_t kClosed = 3;

 private:
  std::mutex mutex_;
  std::vector<std::vector<std::u16string>> drops_;
};

TEST(Win32DialogTest, WritesFromOtherThreadsArriveInOrderAndReadsSeeThem) {
  Recorder recorder;
  WindowThread window(res::kMainDialog.name, recorder);
  ASSERT_TRUE(window.Shown());
  ui::Win32Dialog& dialog = window.Dialog();
  constexpr int kWrites = 500;
  std::thread writer([&] {
    for (int i = 0; i < kWrites; ++i)
      dialog.SetText(res::kIdStatusLine, platform::Utf8ToUtf16(std::to_string(i)));
    dialog.ComboReset(res::kIdPlayList);
    for (const char16_t* title : {u"b", u"a", u"c"})
      EXPECT_EQ(dialog.ComboAdd(res::kIdPlayList, title), 0);
    EXPECT_TRUE(dialog.ComboSelect(res::kIdPlayList, 2));
    dialog.Show(res::kIdStopButton, true);
    dialog.ScrollSetRange(res::kIdSeekBar, 0, 300, false);
    dialog.ScrollSetPosition(res::kIdSeekBar, 42, true);
    dialog.SetPathText(res::kIdFileText,
                       u"C:\\music\\a very long folder name\\that does not fit\\track.wav");
  });
  writer.join();
  // Reads from this thread wait for the window's thread, after the queued writes.
  EXPECT_EQ(dialog.Text(res::kIdStatusLine), platform::Utf8ToUtf16(std::to_string(kWrites - 1)));
  EXPECT_EQ(dialog.ComboCount(res::kIdPlayList), 3);
  EXPECT_EQ(dialog.ComboItem(res::kIdPlayList, 0), u"b");  // drop order, not sorted
  EXPECT_EQ(dialog.ComboSelection(res::kIdPlayList), 2);
  EXPECT_TRUE(dialog.IsVisible(res::kIdStopButton));
  int low = -1, high = -1;
  EXPECT_TRUE(dialog.ScrollRange(res::kIdSeekBar, &low, &high));
  EXPECT_EQ(high, 300);
  EXPECT_EQ(dialog.ScrollPosition(res::kIdSeekBar), 42);
  EXPECT_EQ(dialog.Text(res::kIdFileText),
            u"C:\\music\\a very long folder name\\that does not fit\\track.wav");
  EXPECT_FALSE(dialog.IsVisible(4242));  // no such control
  EXPECT_EQ(window.Close(), Recorder::kClosed);
  // The window is gone: writes do nothing and reads answer their failure values.
  dialog.SetText(res::kIdStatusLine, u"late");
  EXPECT_EQ(dialog.Text(res::kIdStatusLine), u"");
  EXPECT_EQ(dialog.ComboAdd(res::kIdPlayList, u"late"), -1);
}

TEST(Win32DialogTest, ARealDropArrivesWholeInTheShellsOrder) {
  Recorder recorder;
  WindowThread window(res::kMainDialog.name, recorder);
  ASSERT_TRUE(window.Shown());
  const std::vector<std::u16string> paths{u"C:\\m\\b.wav", u"C:\\m\\\u00e9t\u00e9\\a.flac",
                                          u"C:\\m\\\u97f3\u697d.dsf"};
  ASSERT_TRUE(
      ::PostMessageW(window.Window(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0));
  ASSERT_TRUE(WaitFor([&] { return !recorder.Drops().empty(); }));
  EXPECT_EQ(recorder.Drops().front(), paths);
}

// The player's main window on the File output: a drop plays the file once and the window
// returns to its idle look.
TEST(Win32DialogTest, MainWindowPlaysADroppedFileToTheFileOutput) {
  TempTree tree;
  const std::u16string output = tree.Path(u"out.wav");
  platform::file_output::FileOutputSystem fileOutput({.path = output, .paced = false});
  platform::Services services;
  services.endpoints = &fileOutput;
  context::AppContext app;
  app.Services = &services;
  ASSERT_EQ(app::InitSettings(app, tree.File(u"Lumaro.exe")), kOk);
  app.PlayOnce = 1;
  Bytes samples;
  for (int i = 0; i < 44100; ++i) samples.push_back(static_cast<std::uint8_t>(i * 7));
  const std::u16string song = tree.Path(u"song.wav");
  ASSERT_TRUE(WriteFileBytes(song, MakeWav({.channels = 2, .rate = 44100, .bits = 16}, samples)));

  app::MainWindow behaviour(app);
  WindowThread window(res::kMainDialog.name, behaviour);
  ASSERT_TRUE(window.Shown());
  ui::Win32Dialog& dialog = window.Dialog();
  EXPECT_EQ(dialog.Caption(), res::kMainCaption);
  EXPECT_EQ(dialog.Text(res::kIdFileText), res::kTextDropHere);
  EXPECT_FALSE(dialog.IsVisible(res::kIdPlayList));
  EXPECT_FALSE(dialog.IsVisible(res::kIdStopButton));

  ASSERT_TRUE(
      ::PostMessageW(window.Window(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({song})), 0));
  ASSERT_TRUE(WaitFor([&] { return !fileOutput.WrittenFiles().empty(); }));
  ASSERT_TRUE(WaitFor([&] { return engine::RunningPlaybackThreads() == 0; }));
  EXPECT_EQ(app.Failures.LastResult(), kOk);
  EXPECT_EQ(dialog.Text(res::kIdFileText), res::kTextDropHere);
  EXPECT_FALSE(dialog.IsVisible(res::kIdSeekBar));
  const Bytes written = ReadFileBytes(output).value_or(Bytes{});
  ASSERT_GT(written.size(), 44U + samples.size());
  EXPECT_EQ(window.Close(), 0);
}

// The configuration dialog from the main window's menu command: a real modal child, owned by the
// main window (which is disabled meanwhile), filled by its behaviour, closed by its close box.
TEST(Win32DialogTest, MenuCommandRunsTheConfigurationDialogModally) {
  TempTree tree;
  platform::file_output::FileOutputSystem fileOutput({.path = tree.Path(u"out.wav")});
  platform::Services services;
  services.endpoints = &fileOutput;
  context::AppContext app;
  app.Services = &services;
  ASSERT_EQ(app::InitSettings(app, tree.File(u"Lumaro.exe")), kOk);
  app::MainWindow behaviour(app);
  WindowThread window(res::kMainDialog.name, behaviour);
  ASSERT_TRUE(window.Shown());
  ASSERT_TRUE(::PostMessageW(window.Window(), WM_COMMAND, res::kIdMenuConfiguration, 0));
  HWND child = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    child = ::FindWindowW(L"#32770", L"Configuration");
    return child != nullptr;
  }));
  EXPECT_EQ(::GetWindow(child, GW_OWNER), window.Window());
  EXPECT_FALSE(::IsWindowEnabled(window.Window()));
  HWND devices = ::GetDlgItem(child, res::kIdConfigDevice);
  ASSERT_NE(devices, nullptr);
  EXPECT_GE(::SendMessageW(devices, CB_GETCOUNT, 0, 0), 1);
  ASSERT_TRUE(::PostMessageW(child, WM_CLOSE, 0, 0));
  ASSERT_TRUE(WaitFor([&] { return ::IsWindowEnabled(window.Window()) != FALSE; }));
  EXPECT_EQ(window.Dialog().Text(res::kIdFileText), res::kTextDropHere);
  EXPECT_EQ(window.Close(), 0);
}

}  // namespace
}  // namespace lumaro::testing
