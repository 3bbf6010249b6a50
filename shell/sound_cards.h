#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/driver_api.h"
#include "platform/endpoint_api.h"

namespace lumaro::shell {

// Where the sound cards report what is not a failure but must not pass unseen (an underrun);
// may be empty.
using Report = std::function<void(const std::string& line)>;

// The machine's sound cards in the two device families, for the life of the program: ALSA on
// Linux; none yet on Windows. Thread contract: the families'.
class SoundCards {
 public:
  virtual ~SoundCards() = default;
  virtual platform::endpoint::EndpointSystem* Endpoints() = 0;
  virtual platform::driver::DriverRegistry* Drivers() = 0;
};

std::unique_ptr<SoundCards> OpenSoundCards(Report report);

}  // namespace lumaro::shell
