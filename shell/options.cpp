#include "shell/options.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "app/init_settings.h"
#include "app/read_playlist.h"
#include "context/step_table.h"
#include "decode/outside_components.h"
#include "platform/file_output/file_output.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::shell {
namespace {

using context::AppContext;
using platform::Word;
using A = context::AppContext;

// A numeric Settings word with the limits its dialog gives its scroll bar.
struct NumberOption {
  std::string_view name;
  platform::Word A::*setting;
  platform::Word A::*minimum;
  platform::Word A::*maximum;
  std::string_view unit = {};  // for the help
};
constexpr std::array<NumberOption, 8> kNumbers{{
    {"--peak-target", &A::PeakTarget, &A::PeakTargetMin, &A::PeakTargetMax},
    {"--comp-threshold", &A::CompThreshold, &A::CompThresholdMin, &A::CompThresholdMax},
    {"--comp-downward", &A::CompDownward, &A::CompDownwardMin, &A::CompDownwardMax},
    {"--comp-upward", &A::CompUpward, &A::CompUpwardMin, &A::CompUpwardMax},
    {"--comp-max-amplification", &A::CompMaxAmplification, &A::CompMaxAmplificationMin,
     &A::CompMaxAmplificationMax},
    {"--comp-cell-size", &A::CompCellSize, &A::CompCellSizeMin, &A::CompCellSizeMax, " ms"},
    {"--comp-time-lag-balance", &A::CompTimeLagBalance, &A::CompTimeLagBalanceMin,
     &A::CompTimeLagBalanceMax},
    {"--loudness-target", &A::LoudnessTarget, &A::LoudnessTargetMin, &A::LoudnessTargetMax},
}};

// A Settings word chosen from a list, as its dialog's drop-down list offers it.
struct ChoiceOption {
  std::string_view name;
  platform::Word A::*setting;
  std::array<std::string_view, 4> choices;  // index = value; empty past the last
};
constexpr std::array<ChoiceOption, 4> kChoices{{
    {"--assist", &A::VolumeAssist, {"none", "peak", "compression", "loudness"}},
    {"--comp-loudness-type", &A::CompLoudnessType, {"arv", "rms"}},
    {"--comp-peak-normalization", &A::CompPeakNormalization, {"off", "on"}},
    {"--loudness-type", &A::LoudnessType, {"arv", "rms"}},
}};

// A check box: turning it on needs its component (Found word nonzero when given).
struct SwitchOption {
  std::string_view name;
  platform::Word A::*setting;
  std::uint32_t value;
  platform::Word A::*needs;  // nullptr: always available
};
constexpr std::array<SwitchOption, 12> kSwitches{{
    {"--gapless", &A::Gapless, 1, nullptr},
    {"--cache", &A::Cache, 1, nullptr},
    {"--ffmpeg", &A::UseFfmpeg, 1, &A::FfmpegFound},
    {"--no-ffmpeg", &A::UseFfmpeg, 0, nullptr},
    {"--fluidsynth", &A::UseFluidsynth, 1, &A::FluidsynthUsable},
    {"--no-fluidsynth", &A::UseFluidsynth, 0, nullptr},
    {"--winfmp", &A::UseWinfmp, 1, &A::WinfmpFound},
    {"--no-winfmp", &A::UseWinfmp, 0, nullptr},
    {"--pmdwin", &A::UsePmdwin, 1, &A::PmdwinFound},
    {"--no-pmdwin", &A::UsePmdwin, 0, nullptr},
    {"--pps", &A::Pps, 1, &A::UsePmdwin},
    {"--ssg-rhy", &A::SsgRhy, 1, &A::UsePmdwin},
}};

constexpr std::array<std::string_view, 3> kSoundFonts{"--sound-font1", "--sound-font2",
                                                      "--sound-font3"};

bool TakesValue(std::string_view name) {
  for (const auto& n : kNumbers) {
    if (n.name == name) return true;
  }
  for (const auto& c : kChoices) {
    if (c.name == name) return true;
  }
  for (const auto& s : kSoundFonts) {
    if (s == name) return true;
  }
  return false;
}

bool IsSwitch(std::string_view name) {
  for (const auto& s : kSwitches) {
    if (s.name == name) return true;
  }
  return false;
}

// The index of the entry equal to `text` (letter case ignored), also after a "W: "/"A: " prefix
// when `prefixed`; -1 when none.
int FindEntry(const context::StringList* list, std::u16string_view text, bool prefixed) {
  if (list == nullptr) return -1;
  for (std::int32_t i = 0; i < list->Count(); ++i) {
    const std::u16string_view entry = *list->Entry(i);
    if (platform::EqualNoCase(entry, text)) return i;
    if (prefixed && entry.size() > app::kEndpointPrefix.size() &&
        platform::EqualNoCase(entry.substr(app::kEndpointPrefix.size()), text)) {
      return i;
    }
  }
  return -1;
}

// A file of the command line as a window's drop names it: a full path. (A relative one would
// change its meaning when a reader moves the current directory to the program's.)
std::u16string DroppedPath(const std::string& arg) {
  std::u16string path = platform::Utf8ToUtf16(arg);
  if (path.empty() || !platform::PathIsRelative(path)) return path;
  const std::u16string directory = platform::CurrentDirectory();
  return directory.empty() ? path : directory + platform::kPathSeparator + path;
}

constexpr std::size_t kNameColumn = 27;  // where the explanations of the help start

}  // namespace

std::string PlayOptionHelp() {
  const auto line = [&](std::string name, std::string_view text) {
    name.resize(std::max<std::size_t>(name.size() + 1, kNameColumn), ' ');
    return "  " + name + std::string(text) + "\n";
  };
  // The ranges and defaults are those a fresh AppContext starts from (the dialogs' own).
  const context::AppContext defaults;
  std::string help =
      "Play options:\n"
      "  --device NAME              a device of `lumaro devices`, with or without its \"W: \"/\"A: "
      "\"\n"
      "                             prefix (default: the first: a sound card when ALSA has one,\n"
      "                             else \"W: File output\")\n"
      "  --rate ENTRY               a resample choice of that device: Share, Auto, 48000, D64 ...\n"
      "                             (default: the first)\n";
  for (const ChoiceOption& c : kChoices) {
    std::string choices;
    for (std::string_view choice : c.choices) {
      if (!choice.empty()) choices += (choices.empty() ? "" : "|") + std::string(choice);
    }
    const std::uint32_t chosen = (defaults.*c.setting).Load();
    help += line(std::string(c.name) + " " + choices,
                 "(default " + std::string(c.choices[chosen]) + ")");
  }
  for (const NumberOption& n : kNumbers) {
    help += line(std::string(n.name) + " N",
                 std::to_string((defaults.*n.minimum).Load()) + ".." +
                     std::to_string((defaults.*n.maximum).Load()) + std::string(n.unit) +
                     " (default " + std::to_string((defaults.*n.setting).Load()) + ")");
  }
  return help +
         "  --gapless                  decode every track first and play them joined\n"
         "  --cache                    write a cache file of each prepared track\n"
         "  --asio                     list drivers as devices too\n"
         "  --[no-]ffmpeg, --[no-]fluidsynth, --[no-]winfmp, --[no-]pmdwin, --pps, --ssg-rhy\n"
         "                             outside decoders (found beside the program) and FM options\n"
         "  --sound-font1/2/3 NAME     a .sf2 file beside the program\n"
         "  --once                     play the list once and stop (default: repeat until "
         "stopped)\n"
         "  --output FILE              the WAV file \"W: File output\" writes (default\n"
         "                             ./lumaro-output.wav; later tracks add -2, -3 ...); without\n"
         "                             --device it also chooses \"W: File output\"\n"
         "  --fast                     let the File output run as fast as it is fed, not in real\n"
         "                             time\n"
         "  --verbose                  on standard error: each underrun of a sound card, and for\n"
         "                             each failed playback the failing calls with their names\n"
         "                             and codes, outermost first\n"
         "                             (the last one is the innermost cause), e.g. \"to-one-bit\n"
         "                             output [0x5809]: no memory for a DSD buffer [0x5033]:\n"
         "                             memory guard refused [0x5001] 6.8 GB (5.1 GB available)\"\n";
}

std::string ComponentsReport(const context::AppContext& app) {
  const auto found = [](const platform::Word& word) {
    return word.Load() != 0 ? "found" : "not found";
  };
  std::string fonts;
  for (std::int32_t i = 0; app.SoundFontList && i < app.SoundFontList->Count(); ++i) {
    fonts += (i == 0 ? "" : ", ") + platform::Utf16ToUtf8(*app.SoundFontList->Entry(i));
  }
  std::string fluidsynth = found(app.FluidsynthFound);
  if (app.FluidsynthFound.Load() != 0) {
    fluidsynth +=
        fonts.empty() ? " (unusable: no .sf2 sound font)" : " (sound fonts: " + fonts + ")";
  }
  const auto entry = [](const std::u16string& name, const std::string& state) {
    std::string text = "  " + platform::Utf16ToUtf8(name) + ":";
    text.resize(std::max(text.size() + 1, kNameColumn + 2), ' ');
    return text + state + "\n";
  };
  return "Outside components beside the program (" +
         platform::Utf16ToUtf8(platform::ExecutableDirectory()) + "):\n" +
         entry(decode::FfmpegFileName(), found(app.FfmpegFound)) +
         entry(decode::FluidsynthFileName(), fluidsynth) +
         entry(decode::WinfmpFileName(), found(app.WinfmpFound)) +
         entry(decode::PmdwinFileName(), found(app.PmdwinFound));
}

std::optional<std::string> ParsePlayOptions(const std::vector<std::string>& args,
                                            PlayOptions* options) {
  bool outputGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (arg == "--device" || arg == "--rate" || arg == "--output") {
      const auto text = value();
      if (!text) return arg + " needs a value";
      std::u16string wide = platform::Utf8ToUtf16(*text);
      if (arg == "--device") {
        options->device = wide;
      } else if (arg == "--rate") {
        options->rate = wide;
      } else {
        if (wide.empty()) return "--output needs a file name";
        options->output = DroppedPath(*text);
        outputGiven = true;
      }
    } else if (arg == "--fast") {
      options->fast = true;
    } else if (arg == "--once") {
      options->once = true;
    } else if (arg == "--asio") {
      options->asio = true;
    } else if (arg == "--verbose") {
      options->verbose = true;
    } else if (IsSwitch(arg)) {
      options->settings.emplace_back(arg, "");
    } else if (TakesValue(arg)) {
      const auto text = value();
      if (!text) return arg + " needs a value";
      options->settings.emplace_back(arg, *text);
    } else if (arg == "--") {
      for (++i; i < args.size(); ++i) options->files.push_back(DroppedPath(args[i]));
    } else if (arg.starts_with("--")) {
      return "unknown option " + arg;
    } else {
      options->files.push_back(DroppedPath(arg));
    }
  }
  // A relative output file is taken from the directory the command was given in, also after a
  // reader has moved the current directory.
  options->output = DroppedPath(platform::Utf16ToUtf8(options->output));
  // Naming an output file asks for the File output, also on a machine with a sound card.
  if (outputGiven && !options->device)
    options->device = u"W: " + std::u16string(platform::file_output::kFileOutputName);
  return std::nullopt;
}

std::optional<std::string> OutputOverwritesInput(const PlayOptions& options,
                                                 const context::AppContext& app) {
  const std::u16string* device = app.DeviceList ? app.DeviceList->Entry(app.DeviceIndex) : nullptr;
  if (device == nullptr || !device->ends_with(platform::file_output::kFileOutputName)) {
    return std::nullopt;
  }
  std::vector<std::u16string> inputs;
  const platform::StopWord stop;
  for (const std::u16string& file : options.files) {
    inputs.push_back(file);
    // An unreadable list (or a pipe, which could hold the read for ever) is the playback's to
    // report.
    if (platform::PathFindExtension(file) != context::kPlaylistExtension ||
        platform::IsSpecialFile(file))
      continue;
    if (const auto entries = app::ReadPlaylist(file, stop)) {
      for (std::int32_t i = 0; i < entries->Count(); ++i) inputs.push_back(*entries->Entry(i));
    }
  }
  for (const std::u16string& input : inputs) {
    if (platform::file_output::IsOutputFile(options.output, input)) {
      return "the output file would overwrite the input \"" + platform::Utf16ToUtf8(input) +
             "\" (choose another --output)";
    }
  }
  return std::nullopt;
}

std::optional<std::string> ApplySettings(const PlayOptions& options, context::AppContext& app) {
  if (options.device) {
    const int index = FindEntry(app.DeviceList.get(), *options.device, true);
    if (index < 0) return "no device \"" + platform::Utf16ToUtf8(*options.device) + "\"";
    app.DeviceIndex = static_cast<std::uint32_t>(index);
    app::BuildRateList(app);
  }
  if (options.rate) {
    const int index = FindEntry(app.RateList.get(), *options.rate, false);
    if (index < 0)
      return "the device has no rate entry \"" + platform::Utf16ToUtf8(*options.rate) + "\"";
    app.ResampleIndex = static_cast<std::uint32_t>(index);
  }
  for (const auto& [name, text] : options.settings) {
    bool known = false;
    for (const NumberOption& n : kNumbers) {
      if (n.name != name) continue;
      known = true;
      std::uint32_t number = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
      if (error != std::errc() || end != text.data() + text.size() ||
          number < (app.*n.minimum).Load() || number > (app.*n.maximum).Load()) {
        return name + " takes a whole number from " + std::to_string((app.*n.minimum).Load()) +
               " to " + std::to_string((app.*n.maximum).Load());
      }
      app.*n.setting = number;
    }
    for (const ChoiceOption& c : kChoices) {
      if (c.name != name) continue;
      known = true;
      std::size_t found = c.choices.size();
      for (std::size_t v = 0; v < c.choices.size(); ++v) {
        if (!c.choices[v].empty() && c.choices[v] == text) found = v;
      }
      if (found == c.choices.size()) return name + ": unknown choice \"" + text + "\"";
      app.*c.setting = static_cast<std::uint32_t>(found);
    }
    for (const SwitchOption& s : kSwitches) {
      if (s.name != name) continue;
      known = true;
      if (s.needs != nullptr && (app.*s.needs).Load() == 0) {
        return name + " is not available (its component was not found beside the program)";
      }
      app.*s.setting = s.value;
    }
    for (std::size_t f = 0; f < kSoundFonts.size(); ++f) {
      if (kSoundFonts[f] != name) continue;
      known = true;
      const int index = FindEntry(app.SoundFontList.get(), platform::Utf8ToUtf16(text), false);
      if (index < 0) return name + ": no sound font \"" + text + "\" beside the program";
      (f == 0 ? app.SoundFont1 : f == 1 ? app.SoundFont2 : app.SoundFont3) = index;
    }
    if (!known) return "unknown option " + name;
  }
  return std::nullopt;
}

}  // namespace lumaro::shell
