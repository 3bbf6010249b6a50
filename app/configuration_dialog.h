#pragma once

#include <string>

#include "context/app_context.h"
#include "platform/ui.h"

namespace lumaro::app {

// The behaviour of the configuration dialog: every control shows a Setting and changes it at
// once (there is no OK or Cancel). Choosing another device rebuilds the resample list; Reset
// runs the settings initialisation and shows the result; " Option " opens the dialog of the
// chosen volume assist. Only closing ends it.
//
// Thread contract: OnMessage on the user-interface thread while no playback runs.
class ConfigurationDialog final : public platform::ui::DialogBehaviour {
 public:
  // `programPath`: where Reset looks for the outside components (empty: the running program).
  explicit ConfigurationDialog(context::AppContext& app, std::u16string programPath = {});

  std::intptr_t OnMessage(platform::ui::Dialog& dialog,
                          const platform::ui::Message& message) override;

 private:
  void Initialize(platform::ui::Dialog& dialog);
  void OnCommand(platform::ui::Dialog& dialog, const platform::ui::Command& command);
  void FillRateList(platform::ui::Dialog& dialog);

  context::AppContext& app_;
  std::u16string programPath_;
};

}  // namespace lumaro::app
