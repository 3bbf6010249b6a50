#pragma once

#include <array>

#include "platform/ui.h"
#include "resources/status_texts.h"

// The scan tool's dialog: its controls by id and its layout, as data.
namespace lumaro::resources {

using platform::ui::ControlId;

inline constexpr ControlId kIdScanMessage = 2000;     // prompt, then progress and result
inline constexpr ControlId kIdScanExtensions = 1001;  // multi-line edit: the extension words
inline constexpr ControlId kIdScanAddPath = 1002;     // check box "Add path to playlist name"
inline constexpr ControlId kIdScanReset = 1000;       // default button " Reset "
inline constexpr ControlId kIdScanStop = 1004;        // stops a running scan
inline constexpr ControlId kIdScanNoId = -1;          // the label has no id

enum class ScanControlKind { kStatic, kMultiLineEdit, kCheckBox, kDefaultButton, kButton };

struct ScanControl {
  ControlId id;
  ScanControlKind kind;
  Text text;
};

// "DIALOG_SCAN_MUSIC_FILES": 178 x 112 dialog units, font "Meiryo UI" 9 pt.
inline constexpr Text kScanDialogName = u"DIALOG_SCAN_MUSIC_FILES";
inline constexpr int kScanDialogWidth = 178;
inline constexpr int kScanDialogHeight = 112;
inline constexpr std::array<ScanControl, 6> kScanDialogControls{{
    {kIdScanMessage, ScanControlKind::kStatic, kScanPrompt},
    {kIdScanNoId, ScanControlKind::kStatic, kScanExtensionLabel},
    {kIdScanExtensions, ScanControlKind::kMultiLineEdit, u""},
    {kIdScanAddPath, ScanControlKind::kCheckBox, kScanAddPathLabel},
    {kIdScanReset, ScanControlKind::kDefaultButton, kScanResetLabel},
    {kIdScanStop, ScanControlKind::kButton, kScanStopLabel},
}};

}  // namespace lumaro::resources
