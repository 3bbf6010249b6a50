// lumaro: the player on a terminal. The main window runs headless; dropped files are handed to
// the playback engine and every new status line is printed on its own line.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "app/app_context.h"
#include "app/play_request.h"
#include "app/player_steps.h"
#include "engine/playback_thread.h"
#include "platform/headless/headless_dialog.h"
#include "platform/text.h"
#include "resources/control_ids.h"

namespace {

using namespace lumaro;

constexpr int kExitIdle = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

constexpr std::u16string_view kDefaultDevice = u"W: File output";
constexpr std::u16string_view kDefaultRate = u"Auto";
constexpr std::u16string_view kErrorPrefix = u"ERROR: ";
constexpr std::u16string_view kDeviceErrorPrefix = u"DEVICE ERROR: ";

constexpr const char* kUsage =
    "Usage: lumaro [options] FILE|PLAYLIST...\n"
    "\n"
    "Plays music files and .m3u8 play lists, decoded whole into memory and sent bit-exactly\n"
    "to the output device. Each status line of the player is printed as it changes.\n"
    "\n"
    "Options:\n"
    "  --device NAME   output device entry (default \"W: File output\"; the \"W: \" or \"A: \"\n"
    "                  prefix may be left out, in which case \"W: \" is assumed)\n"
    "  --rate ENTRY    resample choice: Share, Auto, a rate such as 48000, or D64/D128/D256\n"
    "                  (default Auto)\n"
    "  --gapless       decode every track first and play them joined without gaps\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Ctrl-C stops playback. Exit status: 0 when playback ended without an error, 1 when it\n"
    "ended with an error (the error line is the last line printed), 2 for a usage error.\n";

app::AppContext* runningApp = nullptr;

extern "C" void StopOnSignal(int) {
  if (runningApp != nullptr) runningApp->PlayCommand = app::kCommandStop;
}

bool IsError(std::u16string_view text) {
  return text.starts_with(kErrorPrefix) || text.starts_with(kDeviceErrorPrefix);
}

void PrintLine(std::u16string_view text) {
  const std::string line = platform::Utf16ToUtf8(text);
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

int Usage(const char* problem) {
  std::fprintf(stderr, "lumaro: %s\n\n%s", problem, kUsage);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  auto request = std::make_unique<app::PlayRequest>();
  request->Device = kDefaultDevice;
  request->Rate = kDefaultRate;
  request->Paths = app::NewStringList();
  request->Steps = &app::PlayerSteps();
  app::AppContext appContext;
  platform::Services services;
  appContext.Services = &services;

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitIdle;
    }
    if (arg == "--version") {
      std::puts("Lumaro 1.31");
      return kExitIdle;
    }
    if (arg == "--gapless") {
      appContext.Gapless = 1;
    } else if (arg == "--device" || arg == "--rate") {
      if (i + 1 >= argc) return Usage("an option needs a value");
      std::u16string value = platform::Utf8ToUtf16(argv[++i]);
      if (arg == "--device" && !value.starts_with(u"W: ") && !value.starts_with(u"A: ")) {
        value.insert(0, u"W: ");
      }
      (arg == "--device" ? request->Device : request->Rate) = std::move(value);
    } else if (arg.starts_with("--")) {
      return Usage("unknown option");
    } else if (request->Paths->Append(platform::Utf8ToUtf16(arg)) != kOk) {
      return Usage("out of memory");
    }
  }
  if (request->Paths->Count() == 0) return Usage("no files given");

  platform::ui::HeadlessDialog window;
  std::u16string lastStatus;
  window.SetObserver([&](platform::ui::ControlId id) {
    if (id != resources::kIdStatusLine) return;
    const std::u16string text = window.Text(id);
    if (text.empty() || text == lastStatus) return;
    lastStatus = text;
    PrintLine(text);
  });
  appContext.MainWindow = &window;
  request->App = &appContext;

  runningApp = &appContext;
  std::signal(SIGINT, StopOnSignal);
  std::signal(SIGTERM, StopOnSignal);
  (void)engine::RunPlayback(std::move(request));
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  runningApp = nullptr;

  return IsError(window.Text(resources::kIdStatusLine)) ? kExitError : kExitIdle;
}
