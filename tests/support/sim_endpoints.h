#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/services.h"
#include "platform/sim/sim_endpoints.h"

namespace lumaro::testing {

// A simulated endpoint named `name` that takes the formats `accepts` allows (empty: every one).
inline platform::sim::SimEndpointScript SimEndpoint(
    std::u16string name,
    std::function<bool(platform::sim::ShareMode, const platform::sim::WaveFormat&)> accepts = {}) {
  platform::sim::SimEndpointScript e;
  e.name = std::move(name);
  e.accepts = std::move(accepts);
  return e;
}

// Makes `system` a simulated endpoint family playing `script` and the services' endpoints.
inline void UseSimEndpoints(platform::Services& services,
                            std::unique_ptr<platform::sim::SimEndpointSystem>& system,
                            platform::sim::SimSystemScript script) {
  system = std::make_unique<platform::sim::SimEndpointSystem>(std::move(script));
  services.endpoints = system.get();
}

}  // namespace lumaro::testing
