#pragma once

#include "platform/ui.h"

namespace lumaro::resources {

using platform::ui::ControlId;

// Controls of the main window.
inline constexpr ControlId kIdFileText = 2000;    // "Drop music files here" / the track's path
inline constexpr ControlId kIdStatusLine = 2003;  // progress and error text of every stage
inline constexpr ControlId kIdPlayList = 2005;    // play-list box: file titles of the tracks
inline constexpr ControlId kIdSeekBar = 2031;     // one unit per second of the track
inline constexpr ControlId kIdTimeText = 2032;    // "m:ss / m:ss"
inline constexpr ControlId kIdStopButton = 1004;

}  // namespace lumaro::resources
