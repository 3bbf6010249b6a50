#pragma once

#include <string>
#include <string_view>

#include "platform/os.h"

namespace lumaro::decode {

// The outside components, looked for only in the player's own directory. The names are the
// components' base names; the platform adds its program or library suffix.
inline constexpr std::u16string_view kFfmpegProgram = u"ffmpeg";
inline constexpr std::u16string_view kFluidsynthProgram = u"fluidsynth";
inline constexpr std::u16string_view kPmdwinLibrary = u"PMDWin";
inline constexpr std::u16string_view kWinfmpLibrary = u"WinFMP";
inline constexpr std::u16string_view kSoundFontExtension = u".sf2";

// The file names on this platform ("ffmpeg", "PMDWin.so" here).
inline std::u16string FfmpegFileName() { return platform::ProgramFileName(kFfmpegProgram); }
inline std::u16string FluidsynthFileName() { return platform::ProgramFileName(kFluidsynthProgram); }
inline std::u16string PmdwinFileName() { return platform::ModuleFileName(kPmdwinLibrary); }
inline std::u16string WinfmpFileName() { return platform::ModuleFileName(kWinfmpLibrary); }

}  // namespace lumaro::decode
