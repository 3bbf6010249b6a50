#include "app/process_entry.h"

#include <chrono>
#include <exception>
#include <memory>

#include "app/fm_child.h"
#include "app/init_settings.h"
#include "context/playback_gate.h"
#include "engine/playback_thread.h"
#include "platform/os.h"
#include "platform/text.h"

namespace lumaro::app {
namespace {
constexpr std::size_t kFmChildMinArgs = 3;
}  // namespace

bool IsFmChildMode(const std::vector<std::u16string>& args) {
  return args.size() >= kFmChildMinArgs && platform::EqualNoCase(args[1], kFmChildSwitch);
}

bool WaitForPlaybackEnd(context::AppContext& app, std::uint32_t milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    const bool gateFree = context::PlaybackGateFree();
    if (gateFree && engine::RunningPlaybackThreads() == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Asked again every millisecond, in case a playback that was not yet at the gate took it.
    app.PlayCommand = context::kCommandStop;
    if (!gateFree) {
      (void)context::WaitForPlaybackGate(context::kGateRetryMilliseconds);
    } else {
      (void)engine::WaitForPlaybackThreads(context::kGateRetryMilliseconds);
    }
  }
}

int ProcessEntry(const std::vector<std::u16string>& args, platform::Services& services,
                 const EntryHooks& hooks) {
  std::unique_ptr<context::AppContext> app;
  try {
    app = std::make_unique<context::AppContext>();
    app->ArgVector = args;
  } catch (const std::exception&) {
    return 0;
  }
  app->ArgCount = static_cast<std::int32_t>(args.size());
  app->Services = &services;

  if (IsFmChildMode(args)) {
    if (hooks.runFmChild) {
      hooks.runFmChild(*app);
    } else {
      (void)RunFmChild(*app);
    }
    return 0;
  }

  const Result settings =
      hooks.programPath.empty() ? InitSettings(*app) : InitSettings(*app, hooks.programPath);
  if (settings != kOk) return 0;
  try {
    app->ScanExtensions = std::make_unique<std::u16string>(app->DefaultExtensions);
  } catch (const std::exception&) {
    return 0;
  }
  app->ScanAddPath = 1;

  if (hooks.runMainWindow) hooks.runMainWindow(*app);

  if (!WaitForPlaybackEnd(*app, kExitWaitMilliseconds)) {
    (void)app.release();  // still in use by a playback that would not stop: left to the exit
  }
  return 0;
}

}  // namespace lumaro::app
