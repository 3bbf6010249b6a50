#pragma once

// The entry points of the two FM-music libraries as the FM-music child calls them: WinFMP (its
// names carry the prefix "fmp_") and PMDWin. They use the C calling convention; every integer is
// 32 bits wide, and an integer answer means "true" when its lowest bit is set.
//
// The child and the test stand-ins for the libraries are both written from the one list below,
// so the names and signatures they agree on cannot drift apart.

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace lumaro::app::fm {

// A number the library reports: its version, its interface version.
using NumberEntry = std::int32_t();
// Initialises the library; the child passes a null pointer. Answers true on success.
using InitEntry = std::int32_t(void* reserved);
// Sets the directories of PCM sample files from a list ended by a null pointer. Answers true on
// success.
using PcmDirEntry = std::int32_t(char** directories);
// Takes one setting: a rate, a switch (0 or 1), a volume reduction, a fade time in milliseconds.
using ValueEntry = void(std::int32_t value);
// Loads a piece from its narrow path. Answers 0 or 3 to 17 when it is loaded, another code when
// it is not.
using LoadEntry = std::int32_t(const char* path);
// Stores the piece's length and loop length in milliseconds. Answers true on success.
using LengthEntry = std::int32_t(const char* path, std::int32_t* lengthMs, std::int32_t* loopMs);
// Starts or stops the piece.
using ActionEntry = void();
// Writes `frames` frames of 16-bit stereo (left, right) into `samples`.
using RenderEntry = void(std::int16_t* samples, std::int32_t frames);

// The entry points both libraries offer: role, WinFMP name, PMDWin name, type.
#define LUMARO_FM_SHARED_ENTRIES(X)                                               \
  X(kVersion, fmp_getversion, getversion, NumberEntry)                            \
  X(kInterfaceVersion, fmp_getinterfaceversion, getinterfaceversion, NumberEntry) \
  X(kInit, fmp_init, pmdwininit, InitEntry)                                       \
  X(kPcmDir, fmp_setpcmdir, setpcmdir, PcmDirEntry)                               \
  X(kPcmRate, fmp_setpcmrate, setpcmrate, ValueEntry)                             \
  X(kFmCalc55k, fmp_setfmcalc55k, setfmcalc55k, ValueEntry)                       \
  X(kPpzInterpolation, fmp_setppzinterpolation, setppzinterpolation, ValueEntry)  \
  X(kLoad, fmp_load, music_load, LoadEntry)                                       \
  X(kLength, fmp_getlength, getlength, LengthEntry)                               \
  X(kStart, fmp_start, music_start, ActionEntry)                                  \
  X(kStop, fmp_stop, music_stop, ActionEntry)                                     \
  X(kRender, fmp_getpcmdata, getpcmdata, RenderEntry)                             \
  X(kFade, fmp_fadeout2, fadeout2, ValueEntry)

// The entry points only PMDWin offers: role, name, type.
#define LUMARO_FM_PMDWIN_ENTRIES(X)                           \
  X(kPpsUse, setppsuse, ValueEntry)                           \
  X(kRhythmWithSsgEffect, setrhythmwithssgeffect, ValueEntry) \
  X(kPpsInterpolation, setppsinterpolation, ValueEntry)       \
  X(kP86Interpolation, setp86interpolation, ValueEntry)       \
  X(kFmVolDown, setfmvoldown, ValueEntry)                     \
  X(kSsgVolDown, setssgvoldown, ValueEntry)                   \
  X(kRhythmVolDown, setrhythmvoldown, ValueEntry)             \
  X(kAdpcmVolDown, setadpcmvoldown, ValueEntry)               \
  X(kPpzVolDown, setppzvoldown, ValueEntry)

enum class Library { kWinFmp, kPmdWin };

enum class Entry : std::size_t {
#define LUMARO_FM_ROLE_SHARED(role, winFmp, pmdWin, type) role,
#define LUMARO_FM_ROLE_PMDWIN(role, pmdWin, type) role,
  LUMARO_FM_SHARED_ENTRIES(LUMARO_FM_ROLE_SHARED) LUMARO_FM_PMDWIN_ENTRIES(LUMARO_FM_ROLE_PMDWIN)
#undef LUMARO_FM_ROLE_SHARED
#undef LUMARO_FM_ROLE_PMDWIN
      kCount
};

// The function type of each role.
template <Entry role>
struct EntryTraits;
#define LUMARO_FM_TRAITS_SHARED(role, winFmp, pmdWin, entryType) \
  template <>                                                    \
  struct EntryTraits<Entry::role> {                              \
    using Type = entryType;                                      \
  };
#define LUMARO_FM_TRAITS_PMDWIN(role, pmdWin, entryType) \
  LUMARO_FM_TRAITS_SHARED(role, , pmdWin, entryType)
LUMARO_FM_SHARED_ENTRIES(LUMARO_FM_TRAITS_SHARED)
LUMARO_FM_PMDWIN_ENTRIES(LUMARO_FM_TRAITS_PMDWIN)
#undef LUMARO_FM_TRAITS_SHARED
#undef LUMARO_FM_TRAITS_PMDWIN

template <Entry role>
using EntryType = typename EntryTraits<role>::Type;

// The exported names of each role in each library; nullptr where the library has none.
struct EntryNames {
  const char* winFmp;
  const char* pmdWin;
};
inline constexpr EntryNames kEntryNames[] = {
#define LUMARO_FM_NAMES_SHARED(role, winFmp, pmdWin, type) {#winFmp, #pmdWin},
#define LUMARO_FM_NAMES_PMDWIN(role, pmdWin, type) {nullptr, #pmdWin},
    LUMARO_FM_SHARED_ENTRIES(LUMARO_FM_NAMES_SHARED)
        LUMARO_FM_PMDWIN_ENTRIES(LUMARO_FM_NAMES_PMDWIN)
#undef LUMARO_FM_NAMES_SHARED
#undef LUMARO_FM_NAMES_PMDWIN
};
static_assert(std::size(kEntryNames) == static_cast<std::size_t>(Entry::kCount));

// The name `library` exports for `role`; nullptr where it has none.
constexpr const char* EntryName(Library library, Entry role) {
  const EntryNames& names = kEntryNames[static_cast<std::size_t>(role)];
  return library == Library::kWinFmp ? names.winFmp : names.pmdWin;
}

}  // namespace lumaro::app::fm
