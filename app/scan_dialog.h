#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "context/app_context.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace lumaro::app {

// The behaviour of the "Scan music files" dialog. Every drop starts a scan thread of its own
// (also while another runs); PlayCommand is their shared stop flag, set by the stop button and
// by closing. The extension list and "Add path to playlist name" live in the AppContext
// (ScanExtensions, ScanAddPath), so they persist from one opening to the next.
//
// Thread contract: OnMessage on the user-interface thread. The scan threads drive the dialog's
// controls; closing the dialog (and destroying the behaviour) stops them and waits for them, so
// neither the dialog nor the AppContext is used after the dialog has ended.
class ScanDialog final : public platform::ui::DialogBehaviour {
 public:
  // `outputDir` is where the play lists go; empty means the program's own directory.
  explicit ScanDialog(context::AppContext& app, std::u16string outputDir = {});
  ~ScanDialog() override;
  ScanDialog(const ScanDialog&) = delete;
  ScanDialog& operator=(const ScanDialog&) = delete;

  std::intptr_t OnMessage(platform::ui::Dialog& dialog,
                          const platform::ui::Message& message) override;

  // Waits until every scan started so far has ended (they are not asked to stop).
  void WaitForScans();

 private:
  void Initialize(platform::ui::Dialog& dialog);
  void Reset(platform::ui::Dialog& dialog);
  void StartScan(platform::ui::Dialog& dialog, const std::vector<std::u16string>& paths);
  void CloseDialog(platform::ui::Dialog& dialog);

  context::AppContext& app_;
  std::u16string outputDir_;
  std::mutex scansMutex_;
  std::vector<std::unique_ptr<platform::Thread>> scans_;
};

}  // namespace lumaro::app
