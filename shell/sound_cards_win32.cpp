// The sound cards of a Windows machine: the system's render endpoints and its registered drivers.
#include "platform/win32/asio_drivers_win32.h"
#include "platform/win32/wasapi_endpoints.h"
#include "shell/sound_cards.h"

namespace lumaro::shell {
namespace {

class WindowsCards final : public SoundCards {
 public:
  WindowsCards()
      : endpoints_(platform::win32::OpenWasapiEndpoints()),
        drivers_(platform::win32::OpenAsioDrivers()) {}
  platform::endpoint::EndpointSystem* Endpoints() override { return endpoints_.get(); }
  platform::driver::DriverRegistry* Drivers() override { return drivers_.get(); }

 private:
  std::unique_ptr<platform::endpoint::EndpointSystem> endpoints_;
  std::unique_ptr<platform::driver::DriverRegistry> drivers_;
};

}  // namespace

// The system reports underruns to no one: a shared-mode stream is mixed, and an exclusive one
// is the driver's to keep fed.
std::unique_ptr<SoundCards> OpenSoundCards(Report) { return std::make_unique<WindowsCards>(); }

}  // namespace lumaro::shell
