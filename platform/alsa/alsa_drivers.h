#pragma once

#include <memory>

#include "platform/alsa/alsa_pcm.h"
#include "platform/driver_api.h"

namespace lumaro::platform::alsa {

// The ALSA playback devices that take native DSD (DSD_U8, DSD_U16_BE or DSD_U32_BE) and PCM, as
// drivers named by their hint's description. In 1-bit format a driver's channels are
// kDSDInt8MSB1 (ALSA's DSD formats carry the earliest bit in the most significant position; the
// device runs at the DSD rate / 8, 16 or 32 frames per second); in PCM format they are the
// device's own integer type (S32, S24_3, S16 in either byte order, preferred in that order). From
// start on, a thread of the driver interleaves each half the player filled into the device's
// frames and calls bufferSwitch once the device has room for the next. A device another program
// holds is listed (what it takes cannot be asked) and fails init. Class ids are made from the
// device names, so they stay the same from one run to the next. Thread contract: the driver
// family's.
class AlsaDriverRegistry final : public driver::DriverRegistry {
 public:
  explicit AlsaDriverRegistry(AlsaOptions options = {});
  // The key is missing when no device takes native DSD.
  std::unique_ptr<driver::DriverKey> OpenDriversKey() override;
  std::unique_ptr<driver::Driver> CreateInstance(const driver::ClassId& id) override;

 private:
  AlsaOptions options_;
};

// The class id of the device opened by `pcm`.
driver::ClassId ClassIdOfDevice(const std::string& pcm);

}  // namespace lumaro::platform::alsa
