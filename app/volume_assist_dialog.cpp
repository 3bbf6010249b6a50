#include "app/volume_assist_dialog.h"

#include <algorithm>
#include <array>
#include <type_traits>

#include "platform/text.h"
#include "resources/dialog_templates.h"

namespace lumaro::app {
namespace {

namespace res = resources;
namespace ui = platform::ui;
using ui::Dialog;
using A = context::AppContext;

constexpr int kPageStep = 10;

constexpr std::array<AssistRow, 6> kCompressionRows{{
    {res::kIdCompDownwardBar, res::kIdCompDownwardValue, &A::CompDownward, &A::CompDownwardMin,
     &A::CompDownwardMax, &A::CompDownwardReset},
    {res::kIdCompThresholdBar, res::kIdCompThresholdValue, &A::CompThreshold, &A::CompThresholdMin,
     &A::CompThresholdMax, &A::CompThresholdReset},
    {res::kIdCompUpwardBar, res::kIdCompUpwardValue, &A::CompUpward, &A::CompUpwardMin,
     &A::CompUpwardMax, &A::CompUpwardReset},
    {res::kIdCompMaxAmplificationBar, res::kIdCompMaxAmplificationValue, &A::CompMaxAmplification,
     &A::CompMaxAmplificationMin, &A::CompMaxAmplificationMax, &A::CompMaxAmplificationReset},
    {res::kIdCompCellSizeBar, res::kIdCompCellSizeValue, &A::CompCellSize, &A::CompCellSizeMin,
     &A::CompCellSizeMax, &A::CompCellSizeReset},
    {res::kIdCompTimeLagBalanceBar, res::kIdCompTimeLagBalanceValue, &A::CompTimeLagBalance,
     &A::CompTimeLagBalanceMin, &A::CompTimeLagBalanceMax, &A::CompTimeLagBalanceReset},
}};
constexpr std::array<AssistRow, 1> kLoudnessRows{{
    {res::kIdLoudnessTargetBar, res::kIdLoudnessTargetValue, &A::LoudnessTarget,
     &A::LoudnessTargetMin, &A::LoudnessTargetMax, &A::LoudnessTargetReset},
}};
constexpr std::array<AssistRow, 1> kPeakRows{{
    {res::kIdPeakTargetBar, res::kIdPeakTargetValue, &A::PeakTarget, &A::PeakTargetMin,
     &A::PeakTargetMax, &A::PeakTargetReset},
}};

// Fills a two-entry list and selects `value`.
void FillChoice(Dialog& dialog, ui::ControlId id, res::Text first, res::Text second,
                std::uint32_t value) {
  dialog.ComboReset(id);
  (void)dialog.ComboAdd(id, first);
  (void)dialog.ComboAdd(id, second);
  (void)dialog.ComboSelect(id, static_cast<int>(value));
}

// Moves a bar and shows its value.
void ShowValue(Dialog& dialog, const AssistRow& row, int value) {
  dialog.ScrollSetPosition(row.bar, value, true);
  dialog.SetText(row.value, platform::DecimalText(static_cast<std::uint32_t>(value)));
}

}  // namespace

std::span<const AssistRow> AssistRows(AssistDialogKind kind) {
  switch (kind) {
    case AssistDialogKind::kCompression:
      return kCompressionRows;
    case AssistDialogKind::kLoudness:
      return kLoudnessRows;
    case AssistDialogKind::kPeak:
      break;
  }
  return kPeakRows;
}

VolumeAssistDialog::VolumeAssistDialog(context::AppContext& app, AssistDialogKind kind)
    : app_(app), kind_(kind) {}

res::Text VolumeAssistDialog::TemplateName() const {
  switch (kind_) {
    case AssistDialogKind::kCompression:
      return res::kCompressionDialog.name;
    case AssistDialogKind::kLoudness:
      return res::kLoudnessDialog.name;
    case AssistDialogKind::kPeak:
      break;
  }
  return res::kPeakDialog.name;
}

std::intptr_t VolumeAssistDialog::OnMessage(Dialog& dialog, const ui::Message& message) {
  std::visit(
      [&](const auto& m) {
        using M = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<M, ui::InitDialog>) {
          Initialize(dialog);
        } else if constexpr (std::is_same_v<M, ui::HScroll>) {
          OnScroll(dialog, m);
        } else if constexpr (std::is_same_v<M, ui::Command>) {
          OnCommand(dialog, m);
        } else if constexpr (std::is_same_v<M, ui::Close>) {
          Close(dialog);
        }
      },
      message);
  return 0;
}

// Every bar at its Setting within its limits, the lists at their Settings.
void VolumeAssistDialog::Initialize(Dialog& dialog) {
  const res::DialogTemplate* dialogTemplate = res::FindDialogTemplate(TemplateName());
  dialog.SetCaption(dialogTemplate->caption);
  for (const AssistRow& row : AssistRows(kind_)) {
    dialog.ScrollSetRange(row.bar, static_cast<int>((app_.*row.minimum).Load()),
                          static_cast<int>((app_.*row.maximum).Load()), true);
    ShowValue(dialog, row, static_cast<int>((app_.*row.setting).Load()));
  }
  if (kind_ == AssistDialogKind::kCompression) {
    FillChoice(dialog, res::kIdCompLoudnessType, res::kLoudnessTypeArv, res::kLoudnessTypeRms,
               app_.CompLoudnessType.Load());
    FillChoice(dialog, res::kIdCompPeakNormalization, res::kSwitchOff, res::kSwitchOn,
               app_.CompPeakNormalization.Load());
    dialog.Enable(res::kIdCompOption, app_.CompPeakNormalization.Load() == 1);
  } else if (kind_ == AssistDialogKind::kLoudness) {
    FillChoice(dialog, res::kIdLoudnessType, res::kLoudnessTypeArv, res::kLoudnessTypeRms,
               app_.LoudnessType.Load());
  }
  dialog.Repaint();
}

// Moves the bar by the scroll code within its limits; the Setting waits for the close.
void VolumeAssistDialog::OnScroll(Dialog& dialog, const ui::HScroll& scroll) {
  const auto rows = AssistRows(kind_);
  const auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const AssistRow& r) { return r.bar == scroll.id; });
  if (row == rows.end()) return;
  int minimum = 0;
  int maximum = 0;
  if (!dialog.ScrollRange(row->bar, &minimum, &maximum)) return;
  const int position = dialog.ScrollPosition(row->bar);
  int target = position;
  switch (scroll.code) {
    case ui::kLineLeft:
      target = std::max(position - 1, minimum);
      break;
    case ui::kLineRight:
      target = std::min(position + 1, maximum);
      break;
    case ui::kPageLeft:
      target = std::max(position - kPageStep, minimum);
      break;
    case ui::kPageRight:
      target = std::min(position + kPageStep, maximum);
      break;
    case ui::kThumbPosition:
    case ui::kThumbTrack:
      if (!dialog.ScrollTrackPosition(row->bar, &target)) return;
      break;
    case ui::kLeftmost:
      target = minimum;
      break;
    case ui::kRightmost:
      target = maximum;
      break;
    default:
      return;
  }
  ShowValue(dialog, *row, target);
}

void VolumeAssistDialog::OnCommand(Dialog& dialog, const ui::Command& command) {
  if (kind_ == AssistDialogKind::kCompression) {
    if (command.id == res::kIdCompLoudnessType) {
      app_.CompLoudnessType =
          static_cast<std::uint32_t>(dialog.ComboSelection(res::kIdCompLoudnessType));
    } else if (command.id == res::kIdCompPeakNormalization) {
      app_.CompPeakNormalization =
          static_cast<std::uint32_t>(dialog.ComboSelection(res::kIdCompPeakNormalization));
      dialog.Enable(res::kIdCompOption, app_.CompPeakNormalization.Load() == 1);
    } else if (command.id == res::kIdCompOption) {
      VolumeAssistDialog peak(app_, AssistDialogKind::kPeak);
      (void)dialog.RunModal(peak.TemplateName(), peak);
    } else if (command.id == res::kIdCompReset) {
      Reset(dialog);
    }
  } else if (kind_ == AssistDialogKind::kLoudness) {
    if (command.id == res::kIdLoudnessType) {
      app_.LoudnessType = static_cast<std::uint32_t>(dialog.ComboSelection(res::kIdLoudnessType));
    } else if (command.id == res::kIdLoudnessReset) {
      Reset(dialog);
    }
  } else if (command.id == res::kIdPeakReset) {
    Reset(dialog);
  }
}

// The dialog's reset values become its Settings at once, and the dialog shows them.
void VolumeAssistDialog::Reset(Dialog& dialog) {
  for (const AssistRow& row : AssistRows(kind_)) app_.*row.setting = (app_.*row.reset).Load();
  if (kind_ == AssistDialogKind::kCompression) {
    app_.CompLoudnessType = app_.CompLoudnessTypeReset.Load();
    app_.CompPeakNormalization = app_.CompPeakNormalizationReset.Load();
  } else if (kind_ == AssistDialogKind::kLoudness) {
    app_.LoudnessType = app_.LoudnessTypeReset.Load();
  }
  Initialize(dialog);
}

// The bars' positions become their Settings.
void VolumeAssistDialog::Close(Dialog& dialog) {
  for (const AssistRow& row : AssistRows(kind_)) {
    app_.*row.setting = static_cast<std::uint32_t>(dialog.ScrollPosition(row.bar));
  }
  dialog.EndDialog(0);
}

}  // namespace lumaro::app
