#pragma once

#include <memory>
#include <vector>

#include "platform/driver_api.h"
#include "platform/endpoint_api.h"

// Several backends of one device family seen as one: their devices in the order of the parts,
// so that the entry point can list a machine's sound cards before its File output.
namespace lumaro::platform {

// The endpoints of every part in turn. A part that fails to enumerate is left out. The parts
// must outlive the system and everything it hands out. Thread contract: the endpoint family's.
class CombinedEndpointSystem final : public endpoint::EndpointSystem {
 public:
  explicit CombinedEndpointSystem(std::vector<endpoint::EndpointSystem*> parts)
      : parts_(std::move(parts)) {}
  endpoint::HResult CreateEnumerator(std::unique_ptr<endpoint::Enumerator>* enumerator) override;

 private:
  std::vector<endpoint::EndpointSystem*> parts_;
};

// The drivers of every part in turn: one key listing every part's subkeys, and a class created
// by the first part that knows it. The drivers' key is missing only when every part's is. The
// parts must outlive the registry. Thread contract: the driver family's.
class CombinedDriverRegistry final : public driver::DriverRegistry {
 public:
  explicit CombinedDriverRegistry(std::vector<driver::DriverRegistry*> parts)
      : parts_(std::move(parts)) {}
  std::unique_ptr<driver::DriverKey> OpenDriversKey() override;
  std::unique_ptr<driver::Driver> CreateInstance(const driver::ClassId& id) override;

 private:
  std::vector<driver::DriverRegistry*> parts_;
};

}  // namespace lumaro::platform
