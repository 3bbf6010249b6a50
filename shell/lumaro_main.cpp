// lumaro: the player on a terminal. The main window runs on the headless host; the files of the
// command line are dropped on it, and the terminal shows it live (or, without a terminal, prints
// each new status line).
#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/init_settings.h"
#include "app/main_window.h"
#include "app/process_entry.h"
#include "app/scan_music_files.h"
#include "engine/playback_thread.h"
#include "platform/combined_devices.h"
#include "platform/failure.h"
#include "platform/file_output/file_driver.h"
#include "platform/file_output/file_output.h"
#include "platform/headless/headless_dialog.h"
#include "platform/os.h"
#include "platform/text.h"
#include "resources/control_ids.h"
#include "resources/status_texts.h"
#include "shell/options.h"
#include "shell/sound_cards.h"
#include "shell/terminal_view.h"

namespace {

using namespace lumaro;
namespace res = resources;
namespace ui = platform::ui;

constexpr int kExitIdle = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr std::uint32_t kPollMilliseconds = 50;
constexpr std::uint32_t kTicksPerTimer = app::kMainTimerPeriod / kPollMilliseconds;
constexpr std::uint32_t kThreadWaitMilliseconds = 10000;

constexpr const char* kUsage =
    "Usage: lumaro [options] FILE|PLAYLIST...   play: the files are dropped on the main window\n"
    "       lumaro [--asio] devices             the devices and, for each, its resample choices\n"
    "       lumaro scan [--extensions \"WORDS\"] [--no-add-path] [--output-dir DIR] PATH...\n"
    "                                           write .m3u8 play lists of the music found into\n"
    "                                           the program's directory (or DIR)\n"
    "       lumaro --help | --version\n"
    "\n"
    "On a terminal the window is drawn live: the file or play-list entry, the status line and\n"
    "the seek bar. Keys: Left/Right 1 s, PgUp/PgDn 10 s, Home/End start/end, Up/Down previous/\n"
    "next track, s stop, q quit. Without a terminal each new status line is printed on its own\n"
    "line. Ctrl-C (or SIGTERM) stops playback and completes the output file; if the stop\n"
    "has not finished 0.8 s later, the process ends at once with status 1.\n"
    "\n"
    "On a machine without a sound card the device is \"W: File output\": it writes what it\n"
    "plays to ./lumaro-output.wav (see --output).\n"
    "\n"
    "Exit status: 0 when the window ends idle without a failure, 1 when the last playback\n"
    "failed (its error text stays in the status line) or nothing could be started, 2 for a\n"
    "usage error.\n"
    "\n";

// Raised by the signal handler (a lock-free atomic, safe there), read by the window's loop and
// the deadline's watcher.
std::atomic<int> closeRequested{0};

// The AppContext of a running scan: Ctrl-C raises its abort flag (a lock-free atomic store).
std::atomic<context::AppContext*> scanningApp{nullptr};

extern "C" void CloseOnSignal(int) {
  closeRequested = 1;
  if (context::AppContext* scanning = scanningApp.load())
    scanning->PlayCommand = context::kCommandStop;
}

// After Ctrl-C or SIGTERM the process ends within this time: through the orderly stop (the
// output file completed, the exit status of the window) when that finishes in time, else at once
// with the terminal restored, whatever a thread is stuck in (an open that waits for a pipe's
// reader, a device that never answers).
constexpr std::uint32_t kSignalExitMilliseconds = 800;

// A thread that watches for the signal (a handler may only raise a flag) and ends the process
// once the deadline passes. Destroyed on the main thread when main returns in time.
class SignalDeadline {
 public:
  SignalDeadline() : watcher_([this] { Watch(); }) {
    std::signal(SIGINT, CloseOnSignal);
    std::signal(SIGTERM, CloseOnSignal);
  }
  // From here on a signal takes its default action (the process ends at once): nothing is left
  // to stop in order.
  ~SignalDeadline() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    returned_ = true;
    watcher_.join();
  }
  SignalDeadline(const SignalDeadline&) = delete;
  SignalDeadline& operator=(const SignalDeadline&) = delete;

 private:
  // Nothing here may wait on what a stuck thread could hold: not even standard output's lock,
  // which a thread blocked writing to a full pipe keeps (each status line is flushed already).
  void Watch() {
    while (!returned_ && closeRequested == 0) platform::SleepMilliseconds(kPollMilliseconds);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSignalExitMilliseconds);
    while (!returned_) {
      if (std::chrono::steady_clock::now() >= deadline) {
        shell::Terminal::RestoreForExit();
        platform::EndProcessNow(kExitError);
      }
      platform::SleepMilliseconds(kPollMilliseconds);
    }
  }

  std::atomic<bool> returned_{false};
  std::thread watcher_;
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "lumaro: %s\n(lumaro --help shows the options)\n", problem.c_str());
  return kExitUsage;
}

void PrintLine(std::u16string_view text) {
  std::fprintf(stdout, "%s\n", platform::Utf16ToUtf8(text).c_str());
  std::fflush(stdout);
}

// Each failed playback's chain of failing calls, outermost first; its code leads when the
// outermost call noted is not the one that ended the playback.
void PrintFailures(const std::vector<platform::FailureReport::Failed>& failed) {
  for (const auto& playback : failed) {
    std::string line = "lumaro: playback failed";
    if (playback.chain.empty() || playback.chain.back().code != playback.result) {
      char code[16];
      std::snprintf(code, sizeof code, " [0x%04x]", static_cast<unsigned>(playback.result));
      line += code;
    }
    if (!playback.chain.empty()) line += ": " + platform::FormatFailureChain(playback.chain);
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

// Starts a playback thread the front end counts, so it knows when the window is idle again.
// Playbacks the window started (a refused drop starts none).
std::atomic<int> acceptedPlaybacks{0};

bool StartCountedPlayback(std::unique_ptr<context::PlayRequest> request) {
  const bool started = engine::StartPlayback(std::move(request));
  if (started) acceptedPlaybacks.fetch_add(1);
  return started;
}

// The main window's life on the terminal: options applied, the files dropped, the timer and the
// keys delivered until the playback ends or the user closes the window. Answers the exit status.
int RunWindow(context::AppContext& app, const shell::PlayOptions& options) {
  if (const auto problem = shell::ApplySettings(options, app)) return Usage(*problem);
  if (const auto problem = shell::OutputOverwritesInput(options, app)) return Usage(*problem);
  app.PlayOnce = options.once ? 1 : 0;

  // The window outlives every playback thread that may write to it (see the end).
  auto window = std::make_unique<ui::HeadlessDialog>();
  app::MainWindowOptions windowOptions;
  windowOptions.startPlayback = StartCountedPlayback;
  app::MainWindow behaviour(app, windowOptions);
  const bool live = shell::Terminal::Interactive();
  std::unique_ptr<shell::Terminal> terminal;
  if (live) {
    terminal = std::make_unique<shell::Terminal>();
  } else {
    auto lastStatus = std::make_shared<std::u16string>();
    ui::HeadlessDialog* shown = window.get();
    auto printing = std::make_shared<std::mutex>();  // an old and a new playback may overlap
    window->SetObserver([shown, lastStatus, printing](ui::ControlId id) {
      if (id != res::kIdStatusLine) return;
      std::lock_guard<std::mutex> lock(*printing);
      const std::u16string text = shown->Text(id);
      if (text.empty() || text == *lastStatus) return;
      *lastStatus = text;
      PrintLine(text);
    });
  }
  window->Attach(&behaviour);
  window->Send(ui::InitDialog{});
  window->Send(ui::DropFiles{options.files});
  if (acceptedPlaybacks.load() == 0) {
    std::fprintf(stderr, "lumaro: nothing to play on (no device or no resample choice)\n");
    window->Send(ui::Close{});
    return kExitError;
  }

  for (std::uint32_t tick = 0; engine::RunningPlaybackThreads() != 0; ++tick) {
    if (closeRequested != 0 && !window->Ended()) window->Send(ui::Close{});
    if (tick % kTicksPerTimer == 0) window->Send(ui::Timer{app::kMainTimerId});
    if (terminal) {
      while (const auto key = terminal->ReadKey()) shell::SendKey(*window, shell::MapKey(*key));
      terminal->Draw(*window);
    }
    platform::SleepMilliseconds(kPollMilliseconds);
  }
  if (terminal) terminal->Draw(*window);
  if (!window->Ended()) window->Send(ui::Close{});
  if (!app::WaitForPlaybackEnd(app, kThreadWaitMilliseconds)) {
    // A playback that does not stop still uses the window and the AppContext: end the process
    // here rather than free them under it (the terminal gets its settings back first).
    terminal.reset();
    platform::EndProcessNow(kExitError);
  }
  if (options.verbose) PrintFailures(app.Failures.TakeFailed());
  return app.Failures.LastResult() != kOk ? kExitError : kExitIdle;
}

// `lumaro devices`: each device and its resample choices.
int ListDevices(context::AppContext& app) {
  if (app.DeviceList == nullptr || app.DeviceList->Count() == 0) {
    std::fprintf(stderr, "lumaro: no devices\n");
    return kExitError;
  }
  for (std::int32_t i = 0; i < app.DeviceList->Count(); ++i) {
    const std::u16string& entry = *app.DeviceList->Entry(i);
    PrintLine(entry);
    const auto rates = app::RatesOfDevice(app, entry);
    std::u16string line = u"  ";
    for (std::int32_t r = 0; rates != nullptr && r < rates->Count(); ++r) {
      line += (r == 0 ? u"" : u" ") + *rates->Entry(r);
    }
    PrintLine(line);
  }
  std::fputs(("\n" + shell::ComponentsReport(app)).c_str(), stdout);
  return kExitIdle;
}

// `lumaro scan`: the scan tool on the given paths.
int Scan(context::AppContext& app, const std::vector<std::string>& args) {
  std::u16string extensions(app.DefaultExtensions);
  std::u16string outputDir = platform::ExecutableDirectory();  // the scan tool's own place
  std::vector<std::u16string> paths;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--extensions" || args[i] == "--output-dir") {
      if (i + 1 >= args.size()) return Usage(args[i] + " needs a value");
      (args[i] == "--extensions" ? extensions : outputDir) = platform::Utf8ToUtf16(args[++i]);
    } else if (args[i] == "--no-add-path") {
      app.ScanAddPath = 0;
    } else if (args[i].starts_with("--")) {
      return Usage("unknown scan option " + args[i]);
    } else {
      paths.push_back(platform::Utf8ToUtf16(args[i]));
    }
  }
  if (paths.empty()) return Usage("scan needs a path");
  scanningApp = &app;
  const Result result = app::ScanMusicFiles(app, paths, extensions, outputDir);
  scanningApp = nullptr;
  if (result != kOk) {
    std::fprintf(stderr, "lumaro: the scan was aborted by an error\n");
    return kExitError;
  }
  std::fprintf(stdout, "play lists written to %s\n", platform::Utf16ToUtf8(outputDir).c_str());
  return kExitIdle;
}

}  // namespace

int main(int argc, char** argv) {
  // The narrow code page of the ANSI path check is the user's character set (numbers keep the
  // C locale's form).
  std::setlocale(LC_CTYPE, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<std::u16string> wideArgs;
  for (int i = 0; i < argc; ++i) wideArgs.push_back(platform::Utf8ToUtf16(argv[i]));

  platform::Services services;
  if (app::IsFmChildMode(wideArgs)) return app::ProcessEntry(wideArgs, services, {});

  enum class Mode { kPlay, kDevices, kScan } mode = Mode::kPlay;
  shell::PlayOptions options;
  std::vector<std::string> rest = args;
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    std::fputs(shell::PlayOptionHelp().c_str(), stdout);
    context::AppContext app;
    app.Services = &services;
    (void)app::InitSettings(app);
    std::fputs(("\n" + shell::ComponentsReport(app)).c_str(), stdout);
    return kExitIdle;
  }
  if (!args.empty() && args[0] == "--version") {
    std::puts(platform::Utf16ToUtf8(resources::kMainCaption).c_str());
    return kExitIdle;
  }
  if (!args.empty() && args[0] == "--asio" && args.size() > 1 && args[1] == "devices") {
    options.asio = true;
    rest.erase(rest.begin());
  }
  if (!rest.empty() && rest[0] == "devices") {
    mode = Mode::kDevices;
    if (rest.size() > 1) return Usage("devices takes no arguments");
  } else if (!rest.empty() && rest[0] == "scan") {
    mode = Mode::kScan;
    rest.erase(rest.begin());
  } else {
    if (const auto problem = shell::ParsePlayOptions(args, &options)) return Usage(*problem);
    if (options.files.empty()) return Usage("no files given");
  }

  // Before the outputs, so that it outlives them: their ends are bounded too.
  const SignalDeadline deadline;
  platform::file_output::FileOutputOptions fileOptions;
  fileOptions.path = options.output;
  fileOptions.paced = !options.fast;
  platform::file_output::FileOutputSystem fileOutput(fileOptions);
  platform::file_output::FileDriverRegistry fileDriver(fileOptions);
  // The sound cards first, so that a machine with one plays to it by default; the File outputs
  // last.
  shell::Report report;
  if (options.verbose) {
    report = [](const std::string& line) { std::fputs((line + "\n").c_str(), stderr); };
  }
  const std::unique_ptr<shell::SoundCards> cards = shell::OpenSoundCards(report);
  platform::CombinedEndpointSystem endpoints({cards->Endpoints(), &fileOutput});
  platform::CombinedDriverRegistry drivers({cards->Drivers(), &fileDriver});
  services.endpoints = &endpoints;
  services.drivers = &drivers;

  int status = kExitError;  // start-up failed when the window never ran
  app::EntryHooks hooks;
  hooks.runMainWindow = [&](context::AppContext& app) {
    if (options.asio) {
      app.AsioSupport = 1;
      (void)app::InitSettings(app);
    }
    switch (mode) {
      case Mode::kPlay:
        status = RunWindow(app, options);
        break;
      case Mode::kDevices:
        status = ListDevices(app);
        break;
      case Mode::kScan:
        status = Scan(app, rest);
        break;
    }
  };
  (void)app::ProcessEntry(wideArgs, services, hooks);
  return status;
}
