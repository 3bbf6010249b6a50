#pragma once

#include <array>
#include <span>

#include "platform/dialog_template.h"
#include "platform/ui.h"
#include "resources/control_ids.h"
#include "resources/scan_dialog_template.h"
#include "resources/status_texts.h"

// The player's six dialog templates and its popup menu, as data every host builds its windows
// from: sizes and positions in dialog units, control ids, kinds and texts. All dialogs use the
// font "Meiryo UI" 9 pt.
namespace lumaro::resources {

inline constexpr Text kDialogFont = u"Meiryo UI";
inline constexpr int kDialogFontPoints = 9;
inline constexpr ControlId kIdNoControl = -1;  // labels nobody addresses

using platform::ui::ControlKind;
using platform::ui::ControlTemplate;
using platform::ui::DialogTemplate;
using platform::ui::MenuItemTemplate;
using platform::ui::MenuTemplate;

// ---- Configuration dialog ------------------------------------------------------------------
inline constexpr ControlId kIdConfigReset = 1000;
inline constexpr ControlId kIdConfigOption = 1001;
inline constexpr ControlId kIdConfigFfmpeg = 1002;
inline constexpr ControlId kIdConfigFluidsynth = 1003;
inline constexpr ControlId kIdConfigGapless = 1004;
inline constexpr ControlId kIdConfigPmdwin = 1005;
inline constexpr ControlId kIdConfigWinfmp = 1006;
inline constexpr ControlId kIdConfigPps = 1007;
inline constexpr ControlId kIdConfigCache = 1008;
inline constexpr ControlId kIdConfigSsgRhy = 1009;
inline constexpr ControlId kIdConfigDevice = 2004;
inline constexpr ControlId kIdConfigVolumeAssist = 2009;
inline constexpr ControlId kIdConfigResample = 2010;
inline constexpr ControlId kIdConfigSoundFont1 = 2011;
inline constexpr ControlId kIdConfigSoundFont2 = 2012;
inline constexpr ControlId kIdConfigSoundFont3 = 2013;

// ---- Volume-assist dialogs -----------------------------------------------------------------
inline constexpr ControlId kIdCompLoudnessType = 1000;
inline constexpr ControlId kIdCompReset = 1001;
inline constexpr ControlId kIdCompPeakNormalization = 1002;
inline constexpr ControlId kIdCompOption = 1003;
inline constexpr ControlId kIdCompThresholdBar = 1007;
inline constexpr ControlId kIdCompDownwardBar = 1011;
inline constexpr ControlId kIdCompUpwardBar = 1012;
inline constexpr ControlId kIdCompMaxAmplificationBar = 1013;
inline constexpr ControlId kIdCompCellSizeBar = 1014;
inline constexpr ControlId kIdCompTimeLagBalanceBar = 1015;
inline constexpr ControlId kIdCompCellSizeValue = 2012;
inline constexpr ControlId kIdCompTimeLagBalanceValue = 2013;
inline constexpr ControlId kIdCompThresholdValue = 2022;
inline constexpr ControlId kIdCompMaxAmplificationValue = 2032;
inline constexpr ControlId kIdCompDownwardValue = 2082;
inline constexpr ControlId kIdCompUpwardValue = 2085;

inline constexpr ControlId kIdLoudnessType = 1000;
inline constexpr ControlId kIdLoudnessReset = 1004;
inline constexpr ControlId kIdLoudnessTargetBar = 1011;
inline constexpr ControlId kIdLoudnessTargetValue = 2082;

inline constexpr ControlId kIdPeakReset = 1001;
inline constexpr ControlId kIdPeakTargetBar = 1011;
inline constexpr ControlId kIdPeakTargetValue = 2082;

// ---- Popup menu ----------------------------------------------------------------------------
inline constexpr ControlId kIdMenuConfiguration = 3001;
inline constexpr ControlId kIdMenuScanMusicFiles = 3002;
inline constexpr ControlId kIdMenuAsioSupport = 3003;

inline constexpr std::array<MenuItemTemplate, 3> kMainMenuItems{{
    {kIdMenuConfiguration, kMenuConfiguration},
    {kIdMenuScanMusicFiles, kMenuScanMusicFiles},
    {kIdMenuAsioSupport, kMenuAsioSupport},
}};
inline constexpr MenuTemplate kMainMenu{u"MENU_001", kMainMenuItems};

// ---- The templates -------------------------------------------------------------------------
using K = ControlKind;

inline constexpr std::array<ControlTemplate, 6> kMainControls{{
    {kIdFileText, K::kStatic, kTextDropHere, 8, 8, 232, 8},
    {kIdPlayList, K::kDropDownList, u"", 8, 8, 232, 132},
    {kIdStatusLine, K::kStatic, u"", 8, 24, 232, 8},
    {kIdSeekBar, K::kHScrollBar, u"", 8, 36, 146, 10},
    {kIdTimeText, K::kStaticCentered, kTimeTextSizer, 164, 36, 54, 10},
    {kIdStopButton, K::kPushButton, kScanStopLabel, 224, 34, 16, 14},
}};
inline constexpr DialogTemplate kMainDialog{u"DIALOG_MAIN", kMainTemplateCaption, 248, 54,
                                            kMainControls};

inline constexpr std::array<ControlTemplate, 22> kConfigControls{{
    {kIdNoControl, K::kStatic, kConfigDeviceLabel, 8, 8, 56, 8},
    {kIdConfigDevice, K::kDropDownList, u"", 68, 6, 172, 120},
    {kIdNoControl, K::kStatic, kConfigVolumeAssistLabel, 8, 24, 56, 8},
    {kIdConfigVolumeAssist, K::kDropDownList, u"", 68, 22, 120, 80},
    {kIdConfigOption, K::kPushButton, kOptionLabel, 192, 21, 48, 14},
    {kIdNoControl, K::kStatic, kConfigResampleLabel, 8, 40, 56, 8},
    {kIdConfigResample, K::kDropDownList, u"", 68, 38, 172, 120},
    {kIdNoControl, K::kStatic, kConfigSoundFont1Label, 8, 56, 56, 8},
    {kIdConfigSoundFont1, K::kDropDownList, u"", 68, 54, 172, 120},
    {kIdNoControl, K::kStatic, kConfigSoundFont2Label, 8, 72, 56, 8},
    {kIdConfigSoundFont2, K::kDropDownList, u"", 68, 70, 172, 120},
    {kIdNoControl, K::kStatic, kConfigSoundFont3Label, 8, 88, 56, 8},
    {kIdConfigSoundFont3, K::kDropDownList, u"", 68, 86, 172, 120},
    {kIdConfigFfmpeg, K::kCheckBox, kConfigFfmpeg, 8, 106, 56, 10},
    {kIdConfigFluidsynth, K::kCheckBox, kConfigFluidsynth, 68, 106, 56, 10},
    {kIdConfigWinfmp, K::kCheckBox, kConfigWinfmp, 128, 106, 56, 10},
    {kIdConfigPmdwin, K::kCheckBox, kConfigPmdwin, 188, 106, 52, 10},
    {kIdConfigGapless, K::kCheckBox, kConfigGapless, 8, 120, 56, 10},
    {kIdConfigCache, K::kCheckBox, kConfigCache, 68, 120, 56, 10},
    {kIdConfigPps, K::kCheckBox, kConfigPps, 128, 120, 56, 10},
    {kIdConfigSsgRhy, K::kCheckBox, kConfigSsgRhy, 188, 120, 52, 10},
    {kIdConfigReset, K::kDefaultPushButton, kScanResetLabel, 192, 136, 48, 14},
}};
inline constexpr DialogTemplate kConfigDialog{u"DIALOG_CONFIGURATION", kConfigCaption, 248, 156,
                                              kConfigControls};

inline constexpr std::array<ControlTemplate, 24> kCompressionControls{{
    {kIdNoControl, K::kStatic, kCompDownwardLabel, 8, 8, 76, 10},
    {kIdCompDownwardBar, K::kHScrollBar, u"", 86, 8, 92, 10},
    {kIdCompDownwardValue, K::kStatic, kValueSizer3, 182, 8, 28, 10},
    {kIdNoControl, K::kStatic, kCompThresholdLabel, 8, 26, 76, 10},
    {kIdCompThresholdBar, K::kHScrollBar, u"", 86, 26, 92, 10},
    {kIdCompThresholdValue, K::kStatic, kValueSizer3, 182, 26, 28, 10},
    {kIdNoControl, K::kStatic, kCompUpwardLabel, 8, 44, 76, 10},
    {kIdCompUpwardBar, K::kHScrollBar, u"", 86, 44, 92, 10},
    {kIdCompUpwardValue, K::kStatic, kValueSizer3, 182, 44, 28, 10},
    {kIdNoControl, K::kStatic, kCompMaxAmplificationLabel, 8, 62, 76, 10},
    {kIdCompMaxAmplificationBar, K::kHScrollBar, u"", 86, 62, 92, 10},
    {kIdCompMaxAmplificationValue, K::kStatic, kValueSizer4, 182, 62, 28, 10},
    {kIdNoControl, K::kStatic, kCompCellSizeLabel, 8, 80, 76, 10},
    {kIdCompCellSizeBar, K::kHScrollBar, u"", 86, 80, 92, 10},
    {kIdCompCellSizeValue, K::kStatic, kValueSizer4, 182, 80, 28, 10},
    {kIdNoControl, K::kStatic, kCompTimeLagBalanceLabel, 8, 98, 76, 10},
    {kIdCompTimeLagBalanceBar, K::kHScrollBar, u"", 86, 98, 92, 10},
    {kIdCompTimeLagBalanceValue, K::kStatic, kValueSizer3, 182, 98, 28, 10},
    {kIdNoControl, K::kStatic, kCompLoudnessTypeLabel, 8, 118, 76, 10},
    {kIdCompLoudnessType, K::kSortedDropDownList, u"", 86, 116, 50, 40},
    {kIdNoControl, K::kStatic, kCompPeakNormalizationLabel, 8, 136, 76, 10},
    {kIdCompPeakNormalization, K::kSortedDropDownList, u"", 86, 134, 50, 40},
    {kIdCompOption, K::kPushButton, kOptionLabel, 140, 134, 34, 14},
    {kIdCompReset, K::kPushButton, kScanResetLabel, 176, 134, 34, 14},
}};
inline constexpr DialogTemplate kCompressionDialog{u"DIALOG_COMPRESSION", kAssistCompressionEntry,
                                                   217, 158, kCompressionControls};

inline constexpr std::array<ControlTemplate, 6> kLoudnessControls{{
    {kIdNoControl, K::kStatic, kLoudnessTargetLabel, 8, 8, 80, 10},
    {kIdLoudnessTargetBar, K::kHScrollBar, u"", 90, 8, 86, 10},
    {kIdLoudnessTargetValue, K::kStatic, kValueSizer3, 180, 8, 24, 10},
    {kIdNoControl, K::kStatic, kLoudnessTypeLabel, 8, 26, 80, 10},
    {kIdLoudnessType, K::kDropDownList, u"", 90, 24, 50, 40},
    {kIdLoudnessReset, K::kPushButton, kScanResetLabel, 160, 38, 44, 14},
}};
inline constexpr DialogTemplate kLoudnessDialog{u"DIALOG_LOUDNESS_NORMALIZATION",
                                                kAssistLoudnessEntry, 212, 59, kLoudnessControls};

inline constexpr std::array<ControlTemplate, 4> kPeakControls{{
    {kIdNoControl, K::kStatic, kPeakTargetLabel, 8, 8, 64, 10},
    {kIdPeakTargetBar, K::kHScrollBar, u"", 74, 8, 80, 10},
    {kIdPeakTargetValue, K::kStatic, kValueSizer3, 158, 8, 26, 10},
    {kIdPeakReset, K::kPushButton, kScanResetLabel, 140, 26, 44, 14},
}};
inline constexpr DialogTemplate kPeakDialog{u"DIALOG_PEAK_NORMALIZATION", kAssistPeakEntry, 191, 46,
                                            kPeakControls};

inline constexpr std::array<ControlTemplate, 6> kScanControls{{
    {kIdScanMessage, K::kStatic, kScanPrompt, 8, 8, 136, 16},
    {kIdScanStop, K::kPushButton, kScanStopLabel, 154, 8, 16, 14},
    {kIdNoControl, K::kStatic, kScanExtensionLabel, 8, 30, 162, 8},
    {kIdScanExtensions, K::kMultiLineEdit, u"", 8, 40, 162, 40},
    {kIdScanAddPath, K::kCheckBox, kScanAddPathLabel, 8, 88, 110, 10},
    {kIdScanReset, K::kDefaultPushButton, kScanResetLabel, 124, 86, 46, 14},
}};
inline constexpr DialogTemplate kScanDialog{kScanDialogName, kScanCaption, kScanDialogWidth,
                                            kScanDialogHeight, kScanControls};

inline constexpr std::array<DialogTemplate, 6> kDialogTemplates{
    {kMainDialog, kConfigDialog, kCompressionDialog, kLoudnessDialog, kPeakDialog, kScanDialog}};

inline constexpr std::array<MenuTemplate, 1> kMenuTemplates{{kMainMenu}};

// Everything a dialog host builds the player's windows from.
inline constexpr platform::ui::DialogResources kDialogResources{kDialogTemplates, kMenuTemplates,
                                                                kDialogFont, kDialogFontPoints};

// The template named `name`, or nullptr.
constexpr const DialogTemplate* FindDialogTemplate(Text name) {
  return kDialogResources.Dialog(name);
}

}  // namespace lumaro::resources
