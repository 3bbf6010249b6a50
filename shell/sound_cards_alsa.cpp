// The sound cards of a Linux machine: ALSA's devices.
#include "platform/alsa/alsa_drivers.h"
#include "platform/alsa/alsa_endpoints.h"
#include "shell/sound_cards.h"

namespace lumaro::shell {
namespace {

class AlsaCards final : public SoundCards {
 public:
  explicit AlsaCards(const platform::alsa::AlsaOptions& options)
      : endpoints_(options), drivers_(options) {}
  platform::endpoint::EndpointSystem* Endpoints() override { return &endpoints_; }
  platform::driver::DriverRegistry* Drivers() override { return &drivers_; }

 private:
  platform::alsa::AlsaEndpointSystem endpoints_;
  platform::alsa::AlsaDriverRegistry drivers_;
};

}  // namespace

std::unique_ptr<SoundCards> OpenSoundCards(Report report) {
  platform::alsa::AlsaOptions options;
  options.report = std::move(report);
  return std::make_unique<AlsaCards>(options);
}

}  // namespace lumaro::shell
