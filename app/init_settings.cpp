#include "app/init_settings.h"

#include <optional>
#include <vector>

#include "app/driver_lists.h"
#include "decode/outside_components.h"
#include "output/device_list.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::app {
namespace {

// The program's own path is usable when it is 1 to 258 units long (it must leave room for the
// terminator in a 260-unit buffer, and a 259-unit answer means it was cut).
constexpr std::size_t kMaxProgramPath = 258;
constexpr std::size_t kMaxPath = 260;
constexpr std::u16string_view kSoundFontPattern = u"*.sf2";

// Stores `value` into every word.
template <class... Words>
void SetAll(std::uint32_t value, Words&... words) {
  ((words = value), ...);
}

using A = context::AppContext;

// A volume-assist value with its limit and reset words, and where their values come from.
struct AssistSetting {
  platform::Word A::*value;
  platform::Word A::*minimum;
  platform::Word A::*maximum;
  platform::Word A::*reset;
  dsp::AssistLimits limits;
};
constexpr AssistSetting kAssistSettings[] = {
    {&A::PeakTarget, &A::PeakTargetMin, &A::PeakTargetMax, &A::PeakTargetReset,
     dsp::kPeakTargetLimits},
    {&A::CompThreshold, &A::CompThresholdMin, &A::CompThresholdMax, &A::CompThresholdReset,
     dsp::kCompThresholdLimits},
    {&A::CompDownward, &A::CompDownwardMin, &A::CompDownwardMax, &A::CompDownwardReset,
     dsp::kCompDownwardLimits},
    {&A::CompUpward, &A::CompUpwardMin, &A::CompUpwardMax, &A::CompUpwardReset,
     dsp::kCompUpwardLimits},
    {&A::CompMaxAmplification, &A::CompMaxAmplificationMin, &A::CompMaxAmplificationMax,
     &A::CompMaxAmplificationReset, dsp::kCompMaxAmplificationLimits},
    {&A::CompCellSize, &A::CompCellSizeMin, &A::CompCellSizeMax, &A::CompCellSizeReset,
     dsp::kCompCellSizeLimits},
    {&A::CompTimeLagBalance, &A::CompTimeLagBalanceMin, &A::CompTimeLagBalanceMax,
     &A::CompTimeLagBalanceReset, dsp::kCompTimeLagBalanceLimits},
    {&A::LoudnessTarget, &A::LoudnessTargetMin, &A::LoudnessTargetMax, &A::LoudnessTargetReset,
     dsp::kLoudnessTargetLimits},
};

// Writes the defaults, limits and reset values of the volume-assist settings.
void WriteAssistDefaults(context::AppContext& app) {
  app.VolumeAssist = context::kAssistNone;
  for (const AssistSetting& s : kAssistSettings) {
    app.*s.minimum = s.limits.min;
    app.*s.maximum = s.limits.max;
    app.*s.reset = s.limits.reset;
    app.*s.value = s.limits.reset;
  }
  SetAll(dsp::kLoudnessTypeRms, app.CompLoudnessTypeReset, app.CompLoudnessType,
         app.LoudnessTypeReset, app.LoudnessType);
  SetAll(context::kCompPeakNormalizationDefault, app.CompPeakNormalizationReset,
         app.CompPeakNormalization);
}

// Appends `prefix` + each entry of `names` to `list`; entries that cannot be added are left out.
void AppendPrefixed(context::StringList& list, std::u16string_view prefix,
                    const context::StringList* names) {
  if (names == nullptr) return;
  for (std::int32_t i = 0; i < names->Count(); ++i) {
    std::u16string entry(prefix);
    entry += *names->Entry(i);
    (void)list.Append(entry);
  }
}

// The DeviceList: endpoints, then drivers when AsioSupport is on. nullptr when no list can be
// made.
void BuildDeviceList(context::AppContext& app) {
  app.DeviceList.reset();
  app.DeviceIndex = 0;
  app.DeviceList = context::NewStringList();
  if (app.DeviceList == nullptr) return;
  AppendPrefixed(*app.DeviceList, kEndpointPrefix, output::ListEndpoints(app).get());
  if (app.AsioSupport == 1) {
    AppendPrefixed(*app.DeviceList, kDriverPrefix, ListAsioDrivers(app).get());
  }
}

// The program's directory, or nullopt when the program's path is unusable.
std::optional<std::u16string> ProgramDirectory(std::u16string_view programPath) {
  if (programPath.empty() || programPath.size() > kMaxProgramPath) return std::nullopt;
  std::u16string directory(programPath);
  if (!platform::PathRemoveFileSpec(directory) || directory.empty()) return std::nullopt;
  return directory;
}

// True when `name` in `directory` exists and is not a directory.
bool Found(const std::optional<std::u16string>& directory, std::u16string_view name) {
  if (!directory) return false;
  std::u16string path = *directory;
  if (!platform::PathAppend(path, name)) return false;
  platform::FileAttributes attributes;
  return platform::GetFileAttributes(path, &attributes) && !attributes.directory;
}

constexpr platform::FailureNames kFailures{
    FailureSite::kInitSettings,
    kInitSoundFontAppendFailed,
    {"no memory for the sound-font list", "program path unusable", "no program directory",
     "sound-font pattern too long", "sound-font pattern append failed",
     "sound-font append failed"}};

bool IsSoundFontName(std::u16string_view name) {
  return name.size() > decode::kSoundFontExtension.size() &&
         platform::EqualNoCase(name.substr(name.size() - decode::kSoundFontExtension.size()),
                               decode::kSoundFontExtension);
}

// The sound fonts beside the program, sorted by name. Answers 0 or the failure site.
Result SearchSoundFonts(std::u16string_view programPath, context::StringList& list) {
  if (programPath.empty() || programPath.size() > kMaxProgramPath)
    return kFailures.Note(kInitProgramPathUnusable);
  const std::optional<std::u16string> directory = ProgramDirectory(programPath);
  if (!directory) return kFailures.Note(kInitNoProgramDirectory);
  if (directory->size() + 2 + kSoundFontPattern.size() >= kMaxPath)
    return kFailures.Note(kInitPatternTooLong);
  std::u16string pattern = *directory;
  if (!platform::PathAppend(pattern, kSoundFontPattern))
    return kFailures.Note(kInitPatternAppendFailed);
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(*directory, &entries)) return kOk;  // no match is not a failure
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.directory || !IsSoundFontName(entry.name)) continue;
    if (list.Append(entry.name) != kOk) return kFailures.Note(kInitSoundFontAppendFailed);
  }
  list.Sort();
  return kOk;
}

}  // namespace

std::unique_ptr<context::StringList> RatesOfDevice(const context::AppContext& app,
                                                   std::u16string_view entry) {
  if (entry.size() < kEndpointPrefix.size()) return nullptr;
  const std::u16string_view name = entry.substr(kEndpointPrefix.size());
  if (entry.front() == kEndpointPrefix.front()) return output::WasapiRates(app, name);
  if (entry.front() == kDriverPrefix.front()) return AsioRates(app, name);
  return nullptr;
}

void BuildRateList(context::AppContext& app) {
  app.RateList.reset();
  app.ResampleIndex = 0;
  if (app.DeviceList == nullptr) return;
  const std::u16string* entry = app.DeviceList->Entry(app.DeviceIndex.Load());
  if (entry != nullptr) app.RateList = RatesOfDevice(app, *entry);
}

Result InitSettings(context::AppContext& app, std::u16string_view programPath) {
  WriteAssistDefaults(app);
  BuildDeviceList(app);
  BuildRateList(app);

  const std::optional<std::u16string> directory = ProgramDirectory(programPath);
  SetAll(0, app.FfmpegFound, app.UseFfmpeg);
  if (Found(directory, decode::FfmpegFileName())) SetAll(1, app.FfmpegFound, app.UseFfmpeg);
  SetAll(0, app.FluidsynthUsable, app.UseFluidsynth, app.FluidsynthFound);
  if (Found(directory, decode::FluidsynthFileName())) app.FluidsynthFound = 1;

  app.SoundFontList.reset();
  app.SoundFont1 = 0;
  app.SoundFont2 = 0;
  app.SoundFont3 = 0;
  Result failure = kOk;
  app.SoundFontList = context::NewStringList();
  if (app.SoundFontList == nullptr) {
    failure = kFailures.Note(kInitNoSoundFontList);
  } else {
    failure = SearchSoundFonts(programPath, *app.SoundFontList);
    if (failure != kOk) {
      app.SoundFontList.reset();
    } else if (app.FluidsynthFound == 1 && app.SoundFontList->Count() > 0) {
      SetAll(1, app.FluidsynthUsable, app.UseFluidsynth);
    }
  }

  app.Gapless = 0;
  SetAll(0, app.UsePmdwin, app.PmdwinFound, app.Pps, app.SsgRhy);
  if (failure == kOk && Found(directory, decode::PmdwinFileName()))
    SetAll(1, app.PmdwinFound, app.UsePmdwin);
  SetAll(0, app.UseWinfmp, app.WinfmpFound);
  if (failure == kOk && Found(directory, decode::WinfmpFileName()))
    SetAll(1, app.WinfmpFound, app.UseWinfmp);
  app.Cache = 0;
  return failure;
}

Result InitSettings(context::AppContext& app) {
  return InitSettings(app, platform::ExecutablePath());
}

}  // namespace lumaro::app
