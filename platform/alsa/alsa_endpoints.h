#pragma once

#include <memory>

#include "platform/alsa/alsa_pcm.h"
#include "platform/endpoint_api.h"

namespace lumaro::platform::alsa {

// The ALSA playback devices as endpoints, named by their hint's description. Exclusive mode
// opens the device itself with none of ALSA's conversions: a format is supported only when the
// device takes it exactly (16/16 as S16_LE, 24/24 as S24_3LE, 24/32 and 32/32 as S32_LE, the
// latter only where all 32 bits are significant), and a device another program holds answers
// kDeviceInUse from Initialize. Shared mode plays 32-bit float through the system's mixing path
// to the device at the mixer's rate, answering kSFalse with that rate otherwise. While running,
// a service thread of the client signals the event whenever a period of room is free. Thread
// contract: the endpoint family's.
class AlsaEndpointSystem final : public endpoint::EndpointSystem {
 public:
  explicit AlsaEndpointSystem(AlsaOptions options = {});
  endpoint::HResult CreateEnumerator(std::unique_ptr<endpoint::Enumerator>* enumerator) override;

 private:
  AlsaOptions options_;
};

}  // namespace lumaro::platform::alsa
