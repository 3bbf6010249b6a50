#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "platform/os.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::decode {

// The outside components, looked for only in the player's own directory. The names are the
// components' base names; the platform adds its program or library suffix.
inline constexpr std::u16string_view kFfmpegProgram = u"ffmpeg";
inline constexpr std::u16string_view kFluidsynthProgram = u"fluidsynth";
inline constexpr std::u16string_view kPmdwinLibrary = u"PMDWin";
inline constexpr std::u16string_view kWinfmpLibrary = u"WinFMP";
inline constexpr std::u16string_view kSoundFontExtension = u".sf2";

// The files each component plays, by extension (any letter case).
inline constexpr std::array<std::u16string_view, 3> kWinfmpExtensions = {u".ovi", u".opi", u".ozi"};
inline constexpr std::array<std::u16string_view, 3> kPmdwinExtensions = {u".m", u".m2", u".mz"};
inline constexpr std::array<std::u16string_view, 2> kMidiExtensions = {u".mid", u".smf"};

// True when the extension of the file `path` names (the text from the last dot of its name on)
// is one of `extensions`, in any letter case. A name without a dot has none.
inline bool HasExtension(std::u16string_view path,
                         std::span<const std::u16string_view> extensions) {
  const std::u16string_view extension =
      platform::PathFindExtension(platform::PathFindFileName(path));
  for (std::u16string_view candidate : extensions) {
    if (!extension.empty() && platform::EqualNoCase(extension, candidate)) return true;
  }
  return false;
}

// The file names on this platform ("ffmpeg", "PMDWin.so" here).
inline std::u16string FfmpegFileName() { return platform::ProgramFileName(kFfmpegProgram); }
inline std::u16string FluidsynthFileName() { return platform::ProgramFileName(kFluidsynthProgram); }
inline std::u16string PmdwinFileName() { return platform::ModuleFileName(kPmdwinLibrary); }
inline std::u16string WinfmpFileName() { return platform::ModuleFileName(kWinfmpLibrary); }

}  // namespace lumaro::decode
