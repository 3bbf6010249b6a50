// A build without sound-card backends: the File outputs are the only devices.
#include "shell/sound_cards.h"

namespace lumaro::shell {
namespace {

// No endpoints: an enumerator that lists none. No drivers: the drivers' key is missing.
class NoEndpoints final : public platform::endpoint::EndpointSystem {
 public:
  platform::endpoint::HResult CreateEnumerator(
      std::unique_ptr<platform::endpoint::Enumerator>*) override {
    return platform::endpoint::kEFail;
  }
};

class NoDrivers final : public platform::driver::DriverRegistry {
 public:
  std::unique_ptr<platform::driver::DriverKey> OpenDriversKey() override { return nullptr; }
  std::unique_ptr<platform::driver::Driver> CreateInstance(
      const platform::driver::ClassId&) override {
    return nullptr;
  }
};

class NoCards final : public SoundCards {
 public:
  platform::endpoint::EndpointSystem* Endpoints() override { return &endpoints_; }
  platform::driver::DriverRegistry* Drivers() override { return &drivers_; }

 private:
  NoEndpoints endpoints_;
  NoDrivers drivers_;
};

}  // namespace

std::unique_ptr<SoundCards> OpenSoundCards(Report) { return std::make_unique<NoCards>(); }

}  // namespace lumaro::shell
