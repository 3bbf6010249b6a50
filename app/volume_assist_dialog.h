#pragma once

#include <span>

#include "context/app_context.h"
#include "platform/ui.h"
#include "resources/status_texts.h"

namespace lumaro::app {

// The three volume-assist dialogs, numbered as VolumeAssist numbers the modes.
enum class AssistDialogKind : std::uint32_t {
  kPeak = context::kAssistPeak,
  kCompression = context::kAssistCompression,
  kLoudness = context::kAssistLoudness,
};

// One row of a volume-assist dialog: a scroll bar over a Setting, its value text, and the
// limits and reset value stored beside the Setting.
struct AssistRow {
  platform::ui::ControlId bar;
  platform::ui::ControlId value;
  platform::Word context::AppContext::*setting;
  platform::Word context::AppContext::*minimum;
  platform::Word context::AppContext::*maximum;
  platform::Word context::AppContext::*reset;
};

// The rows of each dialog, top to bottom.
std::span<const AssistRow> AssistRows(AssistDialogKind kind);

// The behaviour of a volume-assist dialog. A scroll bar moves within its limits and shows its
// value, but the Setting takes it only when the dialog closes; the lists change their Settings
// at once; Reset writes the reset values at once and shows them. The compression dialog's
// " Option " opens the peak normalization dialog.
//
// Thread contract: OnMessage on the user-interface thread while no playback runs.
class VolumeAssistDialog final : public platform::ui::DialogBehaviour {
 public:
  VolumeAssistDialog(context::AppContext& app, AssistDialogKind kind);

  // The template this behaviour belongs to.
  resources::Text TemplateName() const;

  std::intptr_t OnMessage(platform::ui::Dialog& dialog,
                          const platform::ui::Message& message) override;

 private:
  void Initialize(platform::ui::Dialog& dialog);
  void OnScroll(platform::ui::Dialog& dialog, const platform::ui::HScroll& scroll);
  void OnCommand(platform::ui::Dialog& dialog, const platform::ui::Command& command);
  void Reset(platform::ui::Dialog& dialog);
  void Close(platform::ui::Dialog& dialog);

  context::AppContext& app_;
  AssistDialogKind kind_;
};

}  // namespace lumaro::app
