#include "app/main_window.h"

#include <algorithm>
#include <array>
#include <exception>
#include <type_traits>

#include "app/configuration_dialog.h"
#include "app/init_settings.h"
#include "app/player_steps.h"
#include "app/process_entry.h"
#include "app/scan_dialog.h"
#include "context/stop_playback.h"
#include "engine/playback_thread.h"
#include "platform/os.h"
#include "platform/text.h"
#include "resources/dialog_templates.h"
#include "resources/status_texts.h"

namespace lumaro::app {
namespace {

namespace res = resources;
namespace ui = platform::ui;
using ui::Dialog;

constexpr std::size_t kMaxEntry = 260;  // Device and Rate must be shorter
constexpr int kPageSeconds = 10;

// A copy of the list entry at `index` when it exists and is shorter than 260 units.
bool CopyEntry(const context::StringList* list, std::uint32_t index, std::u16string* entry) {
  if (list == nullptr || list->Count() < 1) return false;
  const std::u16string* found = list->Entry(index);
  if (found == nullptr || found->size() >= kMaxEntry) return false;
  *entry = *found;
  return true;
}

}  // namespace

std::u16string TimeText(std::uint32_t elapsed, std::uint32_t total) {
  const auto twoDigits = [](std::uint32_t seconds) {
    std::u16string text = platform::DecimalText(seconds % 60);
    if (text.size() < 2) text.insert(0, u"0");
    return text;
  };
  return platform::DecimalText(elapsed / 60) + u":" + twoDigits(elapsed) + u" / " +
         platform::DecimalText(total / 60) + u":" + twoDigits(total);
}

MainWindow::MainWindow(context::AppContext& app, MainWindowOptions options)
    : app_(app), options_(std::move(options)) {
  if (!options_.startPlayback) options_.startPlayback = engine::StartPlayback;
  if (options_.steps == nullptr) options_.steps = &PlayerSteps();
}

MainWindow::~MainWindow() { stopThreads_.WaitForNone(); }

void MainWindow::StartStop() {
  stopThreads_.Enter();
  const bool started = platform::StartDetachedThread([this] {
    context::StopPlayback(app_);
    stopThreads_.Leave();  // the last touch of this window
  });
  if (!started) stopThreads_.Leave();
}

std::intptr_t MainWindow::OnMessage(Dialog& dialog, const ui::Message& message) {
  std::visit(
      [&](const auto& m) {
        using M = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<M, ui::InitDialog>) {
          Initialize(dialog);
        } else if constexpr (std::is_same_v<M, ui::Timer>) {
          if (m.id == kMainTimerId) OnTimer(dialog);
        } else if constexpr (std::is_same_v<M, ui::HScroll>) {
          if (m.id == res::kIdSeekBar) OnSeekBar(dialog, m.code);
        } else if constexpr (std::is_same_v<M, ui::Command>) {
          OnCommand(dialog, m);
        } else if constexpr (std::is_same_v<M, ui::RButtonUp>) {
          OnRButtonUp(dialog, m.x, m.y);
        } else if constexpr (std::is_same_v<M, ui::DropFiles>) {
          OnDrop(m.paths);
        } else if constexpr (std::is_same_v<M, ui::Close>) {
          OnClose(dialog);
        }
      },
      message);
  return 0;
}

// The idle look; starts the timer the first time.
void MainWindow::Initialize(Dialog& dialog) {
  app_.MainWindow = &dialog;
  dialog.SetCaption(res::kMainCaption);
  dialog.SetText(res::kIdFileText, res::kTextDropHere);
  dialog.Enable(res::kIdFileText, true);
  dialog.Show(res::kIdFileText, true);
  dialog.Show(res::kIdPlayList, false);
  dialog.Enable(res::kIdPlayList, false);
  dialog.ComboReset(res::kIdPlayList);
  dialog.SetText(res::kIdStatusLine, u"");
  dialog.Enable(res::kIdStatusLine, true);
  dialog.Show(res::kIdStatusLine, true);
  dialog.Show(res::kIdSeekBar, false);
  dialog.Enable(res::kIdSeekBar, false);
  dialog.ScrollSetRange(res::kIdSeekBar, 0, 0, false);
  dialog.ScrollSetPosition(res::kIdSeekBar, 0, false);
  dialog.SetText(res::kIdTimeText, u"");
  dialog.Enable(res::kIdTimeText, true);
  dialog.Show(res::kIdTimeText, true);
  dialog.Show(res::kIdStopButton, false);
  dialog.Enable(res::kIdStopButton, false);
  dialog.AcceptDrops(true);
  if (app_.TimerId.Load() == 0 && dialog.SetTimer(kMainTimerId, kMainTimerPeriod)) {
    app_.TimerId = kMainTimerId;
  }
  dialog.Repaint();
}

// The time text once per new second, the thumb unless the user is seeking, and the play-list
// box following the playing track unless its list is open.
void MainWindow::OnTimer(Dialog& dialog) {
  if (app_.PlayCommand.Load() != context::kCommandNone) return;
  const std::uint64_t rate = app_.PositionRate.Load();
  if (app_.PositionValid.Load() != 0 && rate != 0) {
    const auto elapsed = static_cast<std::int32_t>(app_.Position.Load() / rate);
    if (elapsed != app_.ShownSecond.Load()) {
      app_.ShownSecond = elapsed;
      dialog.SetText(res::kIdTimeText,
                     TimeText(static_cast<std::uint32_t>(elapsed), app_.TotalSeconds.Load()));
      if (app_.SeekBusy.Load() == 0 && app_.ThumbTracking.Load() == 0 &&
          app_.SeekPending.Load() == 0) {
        dialog.ScrollSetPosition(res::kIdSeekBar, elapsed, true);
      }
    }
  }
  const auto current = static_cast<int>(app_.CurrentTrack.Load());
  if (app_.ListActive.Load() == 1 && app_.ListOpen.Load() == 0 &&
      dialog.ComboSelection(res::kIdPlayList) != current) {
    (void)dialog.ComboSelect(res::kIdPlayList, current);
  }
}

// Seek-bar codes: keys move the thumb and ask for a seek at once; a drag asks when released.
void MainWindow::OnSeekBar(Dialog& dialog, int code) {
  app_.SeekBusy = 1;
  app_.SeekPending = 1;
  int minimum = 0;
  int maximum = 0;
  if (!dialog.ScrollRange(res::kIdSeekBar, &minimum, &maximum) || code > ui::kRightmost ||
      code < ui::kLineLeft) {
    app_.SeekBusy = 0;
    return;
  }
  const int position = dialog.ScrollPosition(res::kIdSeekBar);
  int target = position;
  switch (code) {
    case ui::kLineLeft:
      target = position - 1;
      break;
    case ui::kLineRight:
      target = position + 1;
      break;
    case ui::kPageLeft:
      target = position - kPageSeconds;
      break;
    case ui::kPageRight:
      target = position + kPageSeconds;
      break;
    case ui::kLeftmost:
      target = minimum;
      break;
    case ui::kRightmost:
      target = maximum;
      break;
    case ui::kThumbTrack:
      app_.ThumbTracking = 1;
      app_.SeekBusy = 0;
      return;
    case ui::kThumbPosition:
      if (!dialog.ScrollTrackPosition(res::kIdSeekBar, &target)) {
        app_.ThumbTracking = 0;
        app_.SeekBusy = 0;
        return;
      }
      break;
    default:
      break;
  }
  if (code != ui::kThumbPosition) target = std::clamp(target, minimum, maximum);
  dialog.ScrollSetPosition(res::kIdSeekBar, target, true);
  app_.Seek.Request(target);
  if (code == ui::kThumbPosition) app_.ThumbTracking = 0;
  app_.SeekBusy = 0;
}

void MainWindow::OnCommand(Dialog& dialog, const ui::Command& command) {
  if (command.id == res::kIdPlayList) {
    if (command.code == ui::kDropDown) {
      app_.ListOpen = 1;
    } else if (command.code == ui::kCloseUp) {
      app_.ListOpen = 0;
    } else if (command.code == ui::kSelChange) {
      // Choosing the playing track again restarts it; with gapless playback the tracks are one
      // buffer, so every choice is a jump to the track's start.
      const int selection = dialog.ComboSelection(res::kIdPlayList);
      if (selection < 0) return;
      if (app_.Gapless.Load() == 0 &&
          static_cast<std::uint32_t>(selection) == app_.CurrentTrack.Load()) {
        app_.Seek.Request(0);
      } else {
        app_.RequestedTrack = static_cast<std::uint32_t>(selection);
        app_.PlayCommand = context::kCommandJump;
      }
    }
  } else if (command.id == res::kIdStopButton) {
    StartStop();
  } else if (command.code == 0 || command.id == res::kIdMenuAsioSupport) {
    OnMenuCommand(dialog, command.id);
  }
}

void MainWindow::OnMenuCommand(Dialog& dialog, int id) {
  if (id == res::kIdMenuConfiguration) {
    StartStop();
    ConfigurationDialog configuration(app_, options_.programPath);
    (void)dialog.RunModal(res::kConfigDialog.name, configuration);
    Initialize(dialog);
  } else if (id == res::kIdMenuScanMusicFiles) {
    StartStop();
    {
      ScanDialog scan(app_, options_.scanOutputDir);
      (void)dialog.RunModal(res::kScanDialog.name, scan);
    }  // the scan dialog has waited for its scans here
    Initialize(dialog);
  } else if (id == res::kIdMenuAsioSupport) {
    // The lists are rebuilt only once no playback can read them any more.
    (void)WaitForPlaybackEnd(app_, kSettingsWaitMilliseconds);
    app_.AsioSupport = app_.AsioSupport.Load() == 0 ? 1 : 0;
    (void)(options_.programPath.empty() ? InitSettings(app_)
                                        : InitSettings(app_, options_.programPath));
  }
}

// The popup menu at the click point; opening it always stops playback.
void MainWindow::OnRButtonUp(Dialog& dialog, int x, int y) {
  if (!dialog.ClientContains(x, y)) return;
  const std::array<ui::ControlId, 1> asioChecked{res::kIdMenuAsioSupport};
  const std::span<const ui::ControlId> checked = app_.AsioSupport.Load() == 1
                                                     ? std::span<const ui::ControlId>(asioChecked)
                                                     : std::span<const ui::ControlId>();
  StartStop();
  const int choice = dialog.TrackPopupMenu(res::kMainMenu.name, checked, x, y);
  if (choice != 0) OnMenuCommand(dialog, choice);
}

// A drop becomes a PlayRequest for the selected device and resample choice; a drop that cannot
// be turned into one is refused without a message.
void MainWindow::OnDrop(const std::vector<std::u16string>& paths) {
  try {
    if (paths.empty()) return;
    auto request = std::make_unique<context::PlayRequest>();
    request->Paths = context::NewStringList();
    if (request->Paths == nullptr) return;
    for (const std::u16string& path : paths) {
      if (request->Paths->Append(path) != kOk) return;
    }
    if (!CopyEntry(app_.DeviceList.get(), app_.DeviceIndex.Load(), &request->Device)) return;
    if (!CopyEntry(app_.RateList.get(), app_.ResampleIndex.Load(), &request->Rate)) return;
    request->App = &app_;
    request->Steps = options_.steps;
    (void)options_.startPlayback(std::move(request));
  } catch (const std::exception&) {
    // out of memory: the drop is refused
  }
}

void MainWindow::OnClose(Dialog& dialog) {
  StartStop();
  dialog.KillTimer(kMainTimerId);
  app_.TimerId = 0;
  dialog.AcceptDrops(false);
  (void)WaitForPlaybackEnd(app_, kSettingsWaitMilliseconds);
  app_.DeviceList.reset();
  app_.RateList.reset();
  app_.SoundFontList.reset();
  app_.ScanExtensions.reset();
  dialog.EndDialog(0);
}

}  // namespace lumaro::app
