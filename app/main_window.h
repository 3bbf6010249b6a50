#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "context/app_context.h"
#include "context/play_request.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace lumaro::app {

// The main window's timer: id 1, every 200 ms.
inline constexpr int kMainTimerId = 1;
inline constexpr unsigned kMainTimerPeriod = 200;

// Where a main window hands its accepted drops, and what it needs besides the AppContext.
struct MainWindowOptions {
  // Starts a playback thread that owns the request; false when it cannot (the request is
  // dropped). Default: engine::StartPlayback.
  std::function<bool(std::unique_ptr<context::PlayRequest>)> startPlayback;
  // The steps every request carries. Default: the player's own (PlayerSteps()).
  const context::StepTable* steps = nullptr;
  // The program's path for the settings initialisation of the "ASIO support" toggle and of the
  // configuration dialog's Reset; empty: the running program.
  std::u16string programPath;
  // Where the scan tool writes its play lists; empty: the program's directory.
  std::u16string scanOutputDir;
};

// "m:ss / m:ss" of an elapsed and a total time in whole seconds.
std::u16string TimeText(std::uint32_t elapsed, std::uint32_t total);

// The behaviour of the main window. A drop becomes a PlayRequest for the selected device and
// resample choice, handed to a playback thread; from then on the window talks to the playback
// only through AppContext words, which its 200 ms timer polls. The right-click menu (which
// always stops playback first) opens the configuration dialog and the scan tool and toggles
// "ASIO support". Closing stops playback without waiting, frees the Settings' lists and ends
// the dialog: the owner of the AppContext waits for the playback gate, then destroys the window
// (which waits for its stop threads), and only then frees the AppContext.
//
// Thread contract: OnMessage on the user-interface thread; the playback thread writes the
// controls at the same time through Dialog's thread-safe methods.
class MainWindow final : public platform::ui::DialogBehaviour {
 public:
  explicit MainWindow(context::AppContext& app, MainWindowOptions options = {});
  // Waits for the stop threads this window started; they end once no playback holds the gate.
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  std::intptr_t OnMessage(platform::ui::Dialog& dialog,
                          const platform::ui::Message& message) override;

 private:
  void Initialize(platform::ui::Dialog& dialog);
  void OnTimer(platform::ui::Dialog& dialog);
  void OnSeekBar(platform::ui::Dialog& dialog, int code);
  void OnCommand(platform::ui::Dialog& dialog, const platform::ui::Command& command);
  void OnMenuCommand(platform::ui::Dialog& dialog, int id);
  void OnRButtonUp(platform::ui::Dialog& dialog, int x, int y);
  void OnDrop(const std::vector<std::u16string>& paths);
  void OnClose(platform::ui::Dialog& dialog);
  // Starts a StopPlayback thread that nobody waits for but this window's destructor.
  void StartStop();

  context::AppContext& app_;
  MainWindowOptions options_;
  platform::ThreadCount stopThreads_;
};

}  // namespace lumaro::app
