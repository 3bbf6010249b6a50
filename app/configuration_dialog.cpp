#include "app/configuration_dialog.h"

#include <array>
#include <type_traits>

#include "app/init_settings.h"
#include "app/process_entry.h"
#include "app/volume_assist_dialog.h"
#include "resources/dialog_templates.h"
#include "resources/status_texts.h"

namespace lumaro::app {
namespace {

namespace res = resources;
namespace ui = platform::ui;
using ui::Dialog;

constexpr std::array<res::Text, 4> kAssistEntries{res::kAssistNoneEntry, res::kAssistPeakEntry,
                                                  res::kAssistCompressionEntry,
                                                  res::kAssistLoudnessEntry};

// The check boxes whose state is their Setting word, as it is.
struct PlainSwitch {
  ui::ControlId id;
  platform::Word context::AppContext::*setting;
};
constexpr std::array<PlainSwitch, 7> kPlainSwitches{{
    {res::kIdConfigFfmpeg, &context::AppContext::UseFfmpeg},
    {res::kIdConfigFluidsynth, &context::AppContext::UseFluidsynth},
    {res::kIdConfigGapless, &context::AppContext::Gapless},
    {res::kIdConfigWinfmp, &context::AppContext::UseWinfmp},
    {res::kIdConfigPps, &context::AppContext::Pps},
    {res::kIdConfigCache, &context::AppContext::Cache},
    {res::kIdConfigSsgRhy, &context::AppContext::SsgRhy},
}};

struct SoundFontBox {
  ui::ControlId id;
  platform::SignedWord context::AppContext::*setting;
};
constexpr std::array<SoundFontBox, 3> kSoundFontBoxes{{
    {res::kIdConfigSoundFont1, &context::AppContext::SoundFont1},
    {res::kIdConfigSoundFont2, &context::AppContext::SoundFont2},
    {res::kIdConfigSoundFont3, &context::AppContext::SoundFont3},
}};

// Empties a box and adds every entry of `list` (if any); answers the number added.
int FillBox(Dialog& dialog, ui::ControlId id, const context::StringList* list) {
  dialog.ComboReset(id);
  if (list == nullptr) return 0;
  for (std::int32_t i = 0; i < list->Count(); ++i) (void)dialog.ComboAdd(id, *list->Entry(i));
  return list->Count();
}

}  // namespace

ConfigurationDialog::ConfigurationDialog(context::AppContext& app, std::u16string programPath)
    : app_(app), programPath_(std::move(programPath)) {}

std::intptr_t ConfigurationDialog::OnMessage(Dialog& dialog, const ui::Message& message) {
  std::visit(
      [&](const auto& m) {
        using M = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<M, ui::InitDialog>) {
          Initialize(dialog);
        } else if constexpr (std::is_same_v<M, ui::Command>) {
          OnCommand(dialog, m);
        } else if constexpr (std::is_same_v<M, ui::Close>) {
          dialog.EndDialog(0);
        }
      },
      message);
  return 0;
}

// Adds the RateList's entries to the resample box (when there is a device) and selects
// ResampleIndex, which falls back to 0 when it is out of the list.
void ConfigurationDialog::FillRateList(Dialog& dialog) {
  dialog.ComboReset(res::kIdConfigResample);
  dialog.Enable(res::kIdConfigResample, false);
  if (app_.DeviceList == nullptr || app_.DeviceList->Count() < 1 || app_.RateList == nullptr) {
    return;
  }
  const int count = FillBox(dialog, res::kIdConfigResample, app_.RateList.get());
  if (app_.ResampleIndex.Load() >= static_cast<std::uint32_t>(count)) app_.ResampleIndex = 0;
  if (count > 0) {
    (void)dialog.ComboSelect(res::kIdConfigResample, static_cast<int>(app_.ResampleIndex.Load()));
    dialog.Enable(res::kIdConfigResample, true);
  }
}

// Shows every Setting.
void ConfigurationDialog::Initialize(Dialog& dialog) {
  dialog.SetCaption(res::kConfigCaption);

  dialog.Enable(res::kIdConfigDevice, false);
  if (FillBox(dialog, res::kIdConfigDevice, app_.DeviceList.get()) > 0) {
    (void)dialog.ComboSelect(res::kIdConfigDevice, static_cast<int>(app_.DeviceIndex.Load()));
    dialog.Enable(res::kIdConfigDevice, true);
  }
  if (app_.DeviceList == nullptr) app_.DeviceIndex = 0;

  dialog.ComboReset(res::kIdConfigVolumeAssist);
  for (res::Text entry : kAssistEntries) (void)dialog.ComboAdd(res::kIdConfigVolumeAssist, entry);
  (void)dialog.ComboSelect(res::kIdConfigVolumeAssist, static_cast<int>(app_.VolumeAssist.Load()));
  dialog.Enable(res::kIdConfigOption, app_.VolumeAssist.Load() > context::kAssistNone);

  FillRateList(dialog);

  dialog.Enable(res::kIdConfigFfmpeg, app_.FfmpegFound.Load() != 0);
  dialog.SetCheck(res::kIdConfigFfmpeg, app_.UseFfmpeg.Load() != 0);
  dialog.Enable(res::kIdConfigFluidsynth, app_.FluidsynthUsable.Load() != 0);
  dialog.SetCheck(res::kIdConfigFluidsynth, app_.UseFluidsynth.Load() != 0);

  for (const SoundFontBox& box : kSoundFontBoxes) {
    dialog.Enable(box.id, false);
    dialog.ComboReset(box.id);
  }
  if (app_.SoundFontList == nullptr) {
    for (const SoundFontBox& box : kSoundFontBoxes) app_.*box.setting = 0;
  } else if (app_.SoundFontList->Count() > 0) {
    for (const SoundFontBox& box : kSoundFontBoxes) {
      (void)FillBox(dialog, box.id, app_.SoundFontList.get());
      (void)dialog.ComboSelect(box.id, (app_.*box.setting).Load());
      dialog.Enable(box.id, true);
    }
  }

  dialog.Enable(res::kIdConfigGapless, true);
  dialog.SetCheck(res::kIdConfigGapless, app_.Gapless.Load() != 0);

  const bool pmdwinFound = app_.PmdwinFound.Load() != 0;
  const bool pmdwinOn = pmdwinFound && app_.UsePmdwin.Load() != 0;
  dialog.Enable(res::kIdConfigPmdwin, pmdwinFound);
  dialog.SetCheck(res::kIdConfigPmdwin, pmdwinOn);
  dialog.Enable(res::kIdConfigPps, pmdwinOn);
  dialog.SetCheck(res::kIdConfigPps, pmdwinOn && app_.Pps.Load() != 0);
  dialog.Enable(res::kIdConfigSsgRhy, pmdwinOn);
  dialog.SetCheck(res::kIdConfigSsgRhy, pmdwinOn && app_.SsgRhy.Load() != 0);

  const bool winfmpFound = app_.WinfmpFound.Load() != 0;
  dialog.Enable(res::kIdConfigWinfmp, winfmpFound);
  dialog.SetCheck(res::kIdConfigWinfmp, winfmpFound && app_.UseWinfmp.Load() != 0);

  dialog.Enable(res::kIdConfigCache, true);
  dialog.SetCheck(res::kIdConfigCache, app_.Cache.Load() != 0);
  dialog.Repaint();
}

void ConfigurationDialog::OnCommand(Dialog& dialog, const ui::Command& command) {
  const ui::ControlId id = command.id;
  if (id >= res::kIdConfigDevice && id <= res::kIdConfigSoundFont3) {
    if (command.code != ui::kSelChange) return;
    const int selection = dialog.ComboSelection(id);
    if (id == res::kIdConfigDevice) {
      app_.DeviceIndex = static_cast<std::uint32_t>(selection);
      BuildRateList(app_);
      dialog.ComboReset(res::kIdConfigResample);
      dialog.Enable(res::kIdConfigResample, false);
      if (FillBox(dialog, res::kIdConfigResample, app_.RateList.get()) > 0) {
        (void)dialog.ComboSelect(res::kIdConfigResample, 0);
        dialog.Enable(res::kIdConfigResample, true);
      }
    } else if (id == res::kIdConfigVolumeAssist) {
      app_.VolumeAssist = static_cast<std::uint32_t>(selection);
      dialog.Enable(res::kIdConfigOption,
                    app_.VolumeAssist.Load() > context::kAssistNone && selection >= 0);
    } else if (id == res::kIdConfigResample) {
      app_.ResampleIndex = static_cast<std::uint32_t>(selection);
    } else {
      for (const SoundFontBox& box : kSoundFontBoxes) {
        if (box.id == id) app_.*box.setting = selection;
      }
    }
    return;
  }
  if (id == res::kIdConfigReset) {
    (void)WaitForPlaybackEnd(app_, kSettingsWaitMilliseconds);  // no playback reads the lists
    const Result result =
        programPath_.empty() ? InitSettings(app_) : InitSettings(app_, programPath_);
    if (result == kOk) Initialize(dialog);
    return;
  }
  if (id == res::kIdConfigOption) {
    const std::uint32_t assist = app_.VolumeAssist.Load();
    if (assist < context::kAssistPeak || assist > context::kAssistLoudness) return;
    VolumeAssistDialog options(app_, static_cast<AssistDialogKind>(assist));
    (void)dialog.RunModal(options.TemplateName(), options);
    return;
  }
  if (id == res::kIdConfigPmdwin) {
    const bool checked = dialog.IsChecked(id);
    app_.UsePmdwin = checked ? 1 : 0;
    dialog.Enable(res::kIdConfigPps, checked);
    dialog.Enable(res::kIdConfigSsgRhy, checked);
    dialog.SetCheck(res::kIdConfigPps, checked && app_.Pps.Load() != 0);
    dialog.SetCheck(res::kIdConfigSsgRhy, checked && app_.SsgRhy.Load() != 0);
    return;
  }
  for (const PlainSwitch& entry : kPlainSwitches) {
    if (entry.id == id) app_.*entry.setting = dialog.IsChecked(id) ? 1 : 0;
  }
}

}  // namespace lumaro::app
