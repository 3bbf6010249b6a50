#pragma once

#include <memory>

#include "app/player_steps.h"
#include "engine/step_machine.h"
#include "output/endpoint_steps.h"
#include "platform/sim/sim_endpoints.h"
#include "tests/engine/engine_fixture.h"

namespace lumaro::testing {

// Byte k of the stand-in output data.
inline std::uint8_t PatternByte(std::uint64_t k) { return static_cast<std::uint8_t>(k % 251 + 1); }

// The engine with the endpoint family's real steps against simulated endpoints. Step 18 (the
// preparation that later turns the track into device bytes) is a stand-in that makes a PcmBuffer
// of the chosen format holding PatternByte(k) at byte k, then continues with step 21.
class EndpointTest : public EngineTest {
 protected:
  EndpointTest();
  void UseEndpoints(platform::sim::SimSystemScript script);
  std::vector<std::string> CallsStartingWith(std::string_view prefix) const;

  std::unique_ptr<platform::sim::SimEndpointSystem> endpoints_;
  std::uint64_t outputFrames_ = 1000;  // frames of the stand-in output
};

}  // namespace lumaro::testing
