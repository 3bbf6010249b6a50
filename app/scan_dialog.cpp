#include "app/scan_dialog.h"

#include <exception>
#include <type_traits>
#include <utility>

#include "app/scan_music_files.h"
#include "resources/scan_dialog_template.h"
#include "resources/status_texts.h"

namespace lumaro::app {
namespace {

using platform::ui::Dialog;
namespace res = resources;
namespace ui = platform::ui;

// A heap copy of the built-in extension list; nullptr when it cannot be made.
std::unique_ptr<std::u16string> DefaultExtensionsCopy(const context::AppContext& app) {
  try {
    return std::make_unique<std::u16string>(app.DefaultExtensions);
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace

ScanDialog::ScanDialog(context::AppContext& app, std::u16string outputDir)
    : app_(app), outputDir_(std::move(outputDir)) {}

ScanDialog::~ScanDialog() {
  bool running = false;
  {
    std::lock_guard<std::mutex> lock(scansMutex_);
    running = !scans_.empty();
  }
  if (running) app_.PlayCommand = context::kCommandStop;
  WaitForScans();
}

void ScanDialog::WaitForScans() {
  std::vector<std::unique_ptr<platform::Thread>> scans;
  {
    std::lock_guard<std::mutex> lock(scansMutex_);
    scans.swap(scans_);
  }
  for (auto& scan : scans) scan->Join();
}

std::intptr_t ScanDialog::OnMessage(Dialog& dialog, const ui::Message& message) {
  std::visit(
      [&](const auto& m) {
        using M = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<M, ui::InitDialog>) {
          Initialize(dialog);
        } else if constexpr (std::is_same_v<M, ui::Command>) {
          if (m.id == res::kIdScanReset) {
            Reset(dialog);
          } else if (m.id == res::kIdScanAddPath) {
            app_.ScanAddPath = dialog.IsChecked(res::kIdScanAddPath) ? 1 : 0;
          } else if (m.id == res::kIdScanStop) {
            app_.PlayCommand = context::kCommandStop;
          }
        } else if constexpr (std::is_same_v<M, ui::DropFiles>) {
          StartScan(dialog, m.paths);
        } else if constexpr (std::is_same_v<M, ui::Close>) {
          CloseDialog(dialog);
        }
      },
      message);
  return 0;
}

// The idle look: the extension list and the check box from the AppContext, stop hidden.
void ScanDialog::Initialize(Dialog& dialog) {
  dialog.SetCaption(res::kScanCaption);
  dialog.Show(res::kIdScanReset, true);
  dialog.Enable(res::kIdScanReset, true);
  dialog.Show(res::kIdScanStop, false);
  dialog.Enable(res::kIdScanStop, false);
  if (!app_.ScanExtensions) {
    app_.ScanExtensions = DefaultExtensionsCopy(app_);
    if (!app_.ScanExtensions) {
      dialog.EndDialog(0);
      return;
    }
  }
  dialog.SetText(res::kIdScanExtensions, *app_.ScanExtensions);
  dialog.Enable(res::kIdScanExtensions, true);
  dialog.Show(res::kIdScanExtensions, true);
  dialog.SetCheck(res::kIdScanAddPath, app_.ScanAddPath.Load() == 1);
  dialog.Enable(res::kIdScanAddPath, true);
  dialog.Show(res::kIdScanAddPath, true);
  dialog.Repaint();
  dialog.AcceptDrops(true);
}

// " Reset ": the built-in list, "Add path to playlist name" on, the prompt, the idle look.
void ScanDialog::Reset(Dialog& dialog) {
  app_.ScanExtensions = DefaultExtensionsCopy(app_);
  if (!app_.ScanExtensions) {
    dialog.EndDialog(0);
    return;
  }
  app_.ScanAddPath = 1;
  dialog.SetText(res::kIdScanMessage, res::kScanPrompt);
  Initialize(dialog);
}

// A drop: a job with the paths and the edit text as they are now, on a thread of its own. A drop
// that cannot be turned into a running scan is ignored.
void ScanDialog::StartScan(Dialog& dialog, const std::vector<std::u16string>& paths) {
  try {
    auto job = std::make_unique<ScanJob>();
    job->App = &app_;
    job->Dialog = &dialog;
    job->Paths = context::NewStringList();
    if (!job->Paths) return;
    for (const std::u16string& path : paths) {
      if (job->Paths->Append(path) != kOk) return;
    }
    job->ExtensionText = dialog.Text(res::kIdScanExtensions);
    job->OutputDir = outputDir_;
    platform::ThreadStarter& threads =
        app_.Services != nullptr ? *app_.Services->threads : platform::SystemThreads();
    std::lock_guard<std::mutex> lock(scansMutex_);
    scans_.reserve(scans_.size() + 1);
    std::unique_ptr<platform::Thread> scan =
        threads.Start([job = std::shared_ptr<ScanJob>(std::move(job))]() mutable {
          (void)RunScanJob(std::make_unique<ScanJob>(std::move(*job)));
        });
    if (scan) scans_.push_back(std::move(scan));
  } catch (const std::exception&) {
  }
}

// Close: no more drops, running scans stopped and waited for, the edit text kept as the
// extension list for the next opening (none when it cannot be copied: the default then).
void ScanDialog::CloseDialog(Dialog& dialog) {
  dialog.AcceptDrops(false);
  app_.PlayCommand = context::kCommandStop;
  app_.ScanExtensions.reset();
  try {
    app_.ScanExtensions = std::make_unique<std::u16string>(dialog.Text(res::kIdScanExtensions));
  } catch (const std::exception&) {
  }
  WaitForScans();
  dialog.EndDialog(0);
}

}  // namespace lumaro::app
