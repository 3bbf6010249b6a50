// Lumaro.exe: the player as a Windows program. The process entry runs the main window as a
// dialog box on this thread (or, started with "/FMPMD", the FM-music child); every start-up
// failure ends silently with 0.
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/process_entry.h"
#include "platform/combined_devices.h"
#include "platform/file_output/file_driver.h"
#include "platform/file_output/file_output.h"
#include "platform/win32/asio_drivers_win32.h"
#include "platform/win32/dialog_win32.h"
#include "platform/win32/wasapi_endpoints.h"
#include "platform/win32/win32_api.h"
#include "resources/dialog_templates.h"

namespace {

using namespace lumaro;
namespace res = resources;

// The main window until the user closes it. The window and its behaviour are left to the end of
// the process when a playback that may still write to them does not leave in time.
void RunMainWindow(context::AppContext& app) {
  auto window = std::make_unique<platform::ui::Win32Dialog>(res::kDialogResources);
  auto behaviour = std::make_unique<app::MainWindow>(app);
  window->SetMainWindowChrome(true);
  (void)window->Run(res::kMainDialog.name, *behaviour);
  if (!app::WaitForPlaybackEnd(app, app::kExitWaitMilliseconds)) {
    (void)behaviour.release();
    (void)window.release();
    return;
  }
  app.MainWindow = nullptr;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::vector<std::u16string> args = platform::ProgramArguments();
  if (args.empty()) return 0;

  // The system's endpoints and drivers first, the File outputs after them.
  const auto wasapi = platform::win32::OpenWasapiEndpoints();
  const auto asio = platform::win32::OpenAsioDrivers();
  platform::file_output::FileOutputSystem fileOutput({});
  platform::file_output::FileDriverRegistry fileDriver({});
  platform::CombinedEndpointSystem endpoints({wasapi.get(), &fileOutput});
  platform::CombinedDriverRegistry drivers({asio.get(), &fileDriver});
  platform::Services services;
  services.endpoints = &endpoints;
  services.drivers = &drivers;
  app::EntryHooks hooks;
  hooks.runMainWindow = RunMainWindow;
  (void)app::ProcessEntry(args, services, hooks);
  return 0;
}
