#pragma once

#include <optional>
#include <string>
#include <vector>

#include "context/app_context.h"

namespace lumaro::shell {

// The default File output path (in the current directory).
inline constexpr std::u16string_view kDefaultOutputPath = u"lumaro-output.wav";

// A play or devices command line, parsed; Settings words are applied once the settings are
// initialised, as the dialogs' limits are known only then.
struct PlayOptions {
  std::vector<std::u16string> files;
  std::optional<std::u16string> device;
  std::optional<std::u16string> rate;
  std::u16string output{kDefaultOutputPath};
  bool fast = false;
  bool once = false;
  bool asio = false;
  bool verbose = false;  // the failure chain of each failed playback on standard error
  // Option name and value, in command-line order, for ApplySettings.
  std::vector<std::pair<std::string, std::string>> settings;
};

// Parses the arguments after the program name (play mode). Failure answer: a usage problem.
std::optional<std::string> ParsePlayOptions(const std::vector<std::string>& args,
                                            PlayOptions* options);

// Applies the options to the initialised settings with the dialogs' limits and choices: the
// device (with or without its prefix) and its rate list, the rate entry, every Settings word.
// Failure answer: a usage problem (a value out of range, an unknown entry, a component that was
// not found beside the program).
std::optional<std::string> ApplySettings(const PlayOptions& options, context::AppContext& app);

// A usage problem when the chosen device is a File output that would write over one of the
// run's inputs (a dropped file or an entry of a dropped play list), before anything is written.
std::optional<std::string> OutputOverwritesInput(const PlayOptions& options,
                                                 const context::AppContext& app);

// Which outside components the settings found beside the program, one line each, as `lumaro
// devices` and `lumaro --help` print them.
std::string ComponentsReport(const context::AppContext& app);

// The option help of play mode, with the ranges and defaults of the settings.
std::string PlayOptionHelp();

}  // namespace lumaro::shell
