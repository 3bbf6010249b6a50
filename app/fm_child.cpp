#include "app/fm_child.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/fm_library.h"
#include "app/process_entry.h"
#include "decode/outside_components.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/scope_exit.h"
#include "platform/text.h"

namespace lumaro::app {
namespace {

using enum fm::Entry;

constexpr platform::FailureNames kFailures{
    FailureSite::kFmChild,
    kFmChildOutOfMemory,
    {"FM child arguments wrong", "FM child piece extension unknown", "FM child path not ANSI",
     "FM child library missing", "FM child library load failed", "FM child entry point missing",
     "FM child library version not supported", "FM child interface version too old",
     "FM child library initialise refused", "FM child PCM directories refused",
     "FM child piece load failed", "FM child piece length unknown", "FM child has no output",
     "FM child write failed", "FM child out of memory"}};

// The arguments: the program's name, the switch, the piece, PPS, SSG+RHY.
constexpr std::size_t kArgumentCount = 5;
constexpr std::size_t kSwitchArgument = 1;
constexpr std::size_t kPieceArgument = 2;
constexpr std::size_t kPpsArgument = 3;
constexpr std::size_t kSsgRhythmArgument = 4;
constexpr std::u16string_view kSwitchOff = u"0";

// The versions the child drives: 52 to 99 (nothing in the hundreds), and an interface at least
// as new as the one whose calls it makes.
constexpr std::int32_t kVersionHundreds = 100;
constexpr std::int32_t kMinVersion = 52;
constexpr std::int32_t kMinInterfaceWinFmp = 11;
constexpr std::int32_t kMinInterfacePmdWin = 118;

constexpr std::int32_t kTrueBit = 1;
constexpr std::int32_t kOn = 1;
constexpr std::int32_t kLoaded = 0;
constexpr std::int32_t kFirstLoadedWithNotice = 3;
constexpr std::int32_t kLastLoadedWithNotice = 17;

// PMDWin's volume reductions, each part's own.
constexpr std::int32_t kFmVolumeDown = 18;
constexpr std::int32_t kSsgVolumeDown = 0;
constexpr std::int32_t kRhythmVolumeDown = 18;
constexpr std::int32_t kAdpcmVolumeDown = 18;
constexpr std::int32_t kPpzVolumeDown = 18;

// The output: 16-bit stereo at 44,100 Hz, written 100 ms at a time while the piece plays and
// 200 ms at a time while it fades.
constexpr std::int32_t kRate = 44100;
constexpr std::int64_t kMillisecondsPerSecond = 1000;
constexpr std::size_t kSamplesPerFrame = 2;
constexpr std::uint64_t kBytesPerFrame = kSamplesPerFrame * sizeof(std::int16_t);
constexpr std::int64_t kPieceFrames = 4410;
constexpr std::int32_t kFadeStepFrames = 8820;
constexpr std::int32_t kFadeStepMilliseconds = 200;
constexpr std::int32_t kFadeMillisecondsWithoutLoop = 3000;
constexpr std::int32_t kFadeMillisecondsWithLoop = 10000;

// The libraries render samples in the machine's order, and the child passes them on unchanged.
static_assert(std::endian::native == std::endian::little,
              "the PCM the child writes is little-endian");

// What the child knows as it goes; each step fills in its part.
struct FmChild {
  const PcmOutput* output = nullptr;
  std::u16string_view piece;
  fm::Library library = fm::Library::kWinFmp;
  std::int32_t pps = 0;
  std::int32_t ssgRhythm = 0;
  const char* ansiPiece = nullptr;           // owned by step 2
  const platform::Module* module = nullptr;  // owned by step 3
  std::int32_t lengthMs = 0;
  std::int32_t loopMs = 0;
  std::array<std::int16_t, kFadeStepFrames * kSamplesPerFrame> area{};
};

bool IsTrue(std::int32_t answer) { return (answer & kTrueBit) != 0; }

// The entry point of `role` in the loaded library; nullptr (noted) when it exports none.
template <fm::Entry role>
fm::EntryType<role>* Find(const FmChild& c) {
  const char* name = fm::EntryName(c.library, role);
  void* address = name == nullptr ? nullptr : c.module->Find(name);
  if (address == nullptr) {
    kFailures.Note(kFmChildEntryMissing, name == nullptr ? "" : name);
    return nullptr;
  }
  return reinterpret_cast<fm::EntryType<role>*>(address);
}

// Every entry point of `roles`, or false at the first one missing.
template <fm::Entry... roles>
bool FindAll(const FmChild& c, fm::EntryType<roles>*&... entries) {
  return (((entries = Find<roles>(c)) != nullptr) && ...);
}

// Step 1: the library from the piece's extension, and the two switches.
Result ReadArguments(const std::vector<std::u16string>& args, FmChild& c) {
  if (args.size() != kArgumentCount ||
      !platform::EqualNoCase(args[kSwitchArgument], kFmChildSwitch)) {
    return kFailures.Note(kFmChildArguments);
  }
  c.piece = args[kPieceArgument];
  if (decode::HasExtension(c.piece, decode::kWinfmpExtensions)) {
    c.library = fm::Library::kWinFmp;
  } else if (decode::HasExtension(c.piece, decode::kPmdwinExtensions)) {
    c.library = fm::Library::kPmdWin;
  } else {
    return kFailures.Note(kFmChildExtension, c.piece);
  }
  c.pps = platform::EqualNoCase(args[kPpsArgument], kSwitchOff) ? 0 : kOn;
  c.ssgRhythm = platform::EqualNoCase(args[kSsgRhythmArgument], kSwitchOff) ? 0 : kOn;
  return kOk;
}

// Step 4: a version the child knows how to drive.
Result CheckVersions(const FmChild& c) {
  fm::NumberEntry* version = Find<kVersion>(c);
  if (version == nullptr) return kFmChildEntryMissing;
  const std::int32_t v = version();
  if (v / kVersionHundreds != 0 || v < kMinVersion) {
    return kFailures.Note(kFmChildVersion, std::to_string(v));
  }
  fm::NumberEntry* interfaceVersion = Find<kInterfaceVersion>(c);
  if (interfaceVersion == nullptr) return kFmChildEntryMissing;
  const std::int32_t minimum =
      c.library == fm::Library::kWinFmp ? kMinInterfaceWinFmp : kMinInterfacePmdWin;
  const std::int32_t iv = interfaceVersion();
  if (iv < minimum) return kFailures.Note(kFmChildInterfaceVersion, std::to_string(iv));
  return kOk;
}

// Step 5: initialised, with no PCM directories.
Result Initialise(const FmChild& c) {
  fm::InitEntry* init = Find<kInit>(c);
  if (init == nullptr) return kFmChildEntryMissing;
  if (!IsTrue(init(nullptr))) return kFailures.Note(kFmChildInit);
  fm::PcmDirEntry* pcmDir = Find<kPcmDir>(c);
  if (pcmDir == nullptr) return kFmChildEntryMissing;
  char* noDirectories[] = {nullptr};
  if (!IsTrue(pcmDir(noDirectories))) return kFailures.Note(kFmChildPcmDir);
  return kOk;
}

// Step 6: the output rate and the synthesis settings; PMDWin's own with the two switches.
Result ApplySettings(const FmChild& c) {
  fm::ValueEntry *rate, *fmCalc55k, *ppzInterpolation;
  if (!FindAll<kPcmRate, kFmCalc55k, kPpzInterpolation>(c, rate, fmCalc55k, ppzInterpolation)) {
    return kFmChildEntryMissing;
  }
  rate(kRate);
  fmCalc55k(kOn);
  ppzInterpolation(kOn);
  if (c.library != fm::Library::kPmdWin) return kOk;
  fm::ValueEntry *ppsUse, *rhythmWithSsg, *ppsInterpolation, *p86Interpolation;
  if (!FindAll<kPpsUse, kRhythmWithSsgEffect, kPpsInterpolation, kP86Interpolation>(
          c, ppsUse, rhythmWithSsg, ppsInterpolation, p86Interpolation)) {
    return kFmChildEntryMissing;
  }
  ppsUse(c.pps);
  rhythmWithSsg(c.ssgRhythm);
  ppsInterpolation(kOn);
  p86Interpolation(kOn);
  return kOk;
}

// Steps 7 and 8: the piece loaded (codes 3 to 17 load it too), and its length and loop length.
Result LoadPiece(FmChild& c) {
  fm::LoadEntry* load = Find<kLoad>(c);
  if (load == nullptr) return kFmChildEntryMissing;
  const std::int32_t loaded = load(c.ansiPiece);
  if (loaded != kLoaded && (loaded < kFirstLoadedWithNotice || loaded > kLastLoadedWithNotice)) {
    return kFailures.Note(kFmChildLoad, std::to_string(loaded));
  }
  fm::LengthEntry* length = Find<kLength>(c);
  if (length == nullptr) return kFmChildEntryMissing;
  if (!IsTrue(length(c.ansiPiece, &c.lengthMs, &c.loopMs))) return kFailures.Note(kFmChildLength);
  return kOk;
}

// Renders `frames` into the cleared area and writes them.
Result WriteFrames(FmChild& c, fm::RenderEntry* render, std::int32_t frames) {
  c.area.fill(0);
  render(c.area.data(), frames);
  const std::uint64_t bytes = static_cast<std::uint64_t>(frames) * kBytesPerFrame;
  if (!(*c.output)(c.area.data(), bytes)) return kFailures.Note(kFmChildWrite);
  return kOk;
}

// Step 11: the piece once through its length and once through its loop. The two lengths are
// added as the library's 32-bit values (a sum past the range wraps); the frames are counted
// wider, since milliseconds times 44,100 pass 2^31 from 48.7 s on.
Result RenderPlayback(FmChild& c, fm::RenderEntry* render) {
  const auto totalMs = static_cast<std::int32_t>(static_cast<std::uint32_t>(c.lengthMs) +
                                                 static_cast<std::uint32_t>(c.loopMs));
  std::int64_t left = std::int64_t{totalMs} * kRate / kMillisecondsPerSecond;
  while (left > 0) {
    const auto frames = static_cast<std::int32_t>(std::min(left, kPieceFrames));
    if (const Result r = WriteFrames(c, render, frames); r != kOk) return r;
    left -= frames;
  }
  return kOk;
}

// Step 12: the fade-out, where the library has one: 3 s after a piece without a loop, 10 s
// after a looping one.
Result RenderFade(FmChild& c, fm::RenderEntry* render) {
  const char* name = fm::EntryName(c.library, kFade);
  auto* fade = reinterpret_cast<fm::EntryType<kFade>*>(c.module->Find(name));
  if (fade == nullptr) return kOk;
  const std::int32_t fadeMs =
      c.loopMs == 0 ? kFadeMillisecondsWithoutLoop : kFadeMillisecondsWithLoop;
  fade(fadeMs);
  std::int32_t elapsedMs = 0;
  do {
    if (const Result r = WriteFrames(c, render, kFadeStepFrames); r != kOk) return r;
    elapsedMs += kFadeStepMilliseconds;
  } while (elapsedMs < fadeMs);
  return kOk;
}

// Steps 10 to 12: the output, then the piece and its fade.
Result Render(FmChild& c) {
  if (!*c.output) return kFailures.Note(kFmChildOutput);
  fm::RenderEntry* render = Find<kRender>(c);
  if (render == nullptr) return kFmChildEntryMissing;
  if (const Result r = RenderPlayback(c, render); r != kOk) return r;
  return RenderFade(c, render);
}

// Step 9: PMDWin's volume reductions; then start, render, and stop whatever rendering answered.
Result Play(FmChild& c) {
  if (c.library == fm::Library::kPmdWin) {
    fm::ValueEntry *fmDown, *ssgDown, *rhythmDown, *adpcmDown, *ppzDown;
    if (!FindAll<kFmVolDown, kSsgVolDown, kRhythmVolDown, kAdpcmVolDown, kPpzVolDown>(
            c, fmDown, ssgDown, rhythmDown, adpcmDown, ppzDown)) {
      return kFmChildEntryMissing;
    }
    fmDown(kFmVolumeDown);
    ssgDown(kSsgVolumeDown);
    rhythmDown(kRhythmVolumeDown);
    adpcmDown(kAdpcmVolumeDown);
    ppzDown(kPpzVolumeDown);
  }
  fm::ActionEntry *start, *stop;
  if (!FindAll<kStart, kStop>(c, start, stop)) return kFmChildEntryMissing;
  start();
  const platform::ScopeExit stopAfter([stop] { stop(); });
  return Render(c);
}

// Steps 4 to 9, on the loaded library.
Result DriveLibrary(FmChild& c) {
  if (const Result r = CheckVersions(c); r != kOk) return r;
  if (const Result r = Initialise(c); r != kOk) return r;
  if (const Result r = ApplySettings(c); r != kOk) return r;
  if (const Result r = LoadPiece(c); r != kOk) return r;
  return Play(c);
}

// Step 3: the library file beside the program, loaded for the steps after it and unloaded.
Result WithLibrary(FmChild& c, std::u16string_view programDirectory) {
  std::u16string path(programDirectory);
  const std::u16string file =
      c.library == fm::Library::kWinFmp ? decode::WinfmpFileName() : decode::PmdwinFileName();
  platform::FileAttributes attributes;
  if (path.empty() || !platform::PathAppend(path, file) ||
      !platform::GetFileAttributes(path, &attributes) || attributes.directory) {
    return kFailures.Note(kFmChildLibraryMissing, path);
  }
  const std::unique_ptr<platform::Module> module = platform::Module::Load(path);
  if (!module) return kFailures.Note(kFmChildLibraryLoad, path);
  c.module = module.get();
  const Result r = DriveLibrary(c);
  c.module = nullptr;
  return r;
}

// Step 2: the piece's path in the narrow code page the libraries read, for the steps after it.
Result WithAnsiPath(FmChild& c, std::u16string_view programDirectory) {
  std::string ansiPiece;
  if (!platform::AnsiPathCheck(c.piece) || !platform::ToAnsi(c.piece, &ansiPiece)) {
    return kFailures.Note(kFmChildAnsiPath, c.piece);
  }
  c.ansiPiece = ansiPiece.c_str();
  const Result r = WithLibrary(c, programDirectory);
  c.ansiPiece = nullptr;
  return r;
}

}  // namespace

Result RunFmChild(context::AppContext& app, std::u16string_view programDirectory,
                  const PcmOutput& output) {
  try {
    FmChild c;
    c.output = &output;
    if (const Result r = ReadArguments(app.ArgVector, c); r != kOk) return r;
    return WithAnsiPath(c, programDirectory);
  } catch (const std::bad_alloc&) {
    return kFailures.Note(kFmChildOutOfMemory);
  }
}

Result RunFmChild(context::AppContext& app) {
  // Only PCM may reach the parent: a library's own messages are sent nowhere. Should that fail,
  // the output is still the PCM's; only the library could then spoil it.
  (void)platform::ReserveStandardOutput();
  return RunFmChild(app, platform::ExecutableDirectory(), platform::WriteStandardOutput);
}

}  // namespace lumaro::app
