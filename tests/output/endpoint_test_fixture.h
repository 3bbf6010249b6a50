#pragma once

#include <memory>

#include "app/player_steps.h"
#include "engine/step_machine.h"
#include "output/endpoint_steps.h"
#include "platform/sim/sim_endpoints.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/sim_endpoints.h"

namespace lumaro::testing {

// Byte k of the stand-in output data.
inline std::uint8_t PatternByte(std::uint64_t k) { return static_cast<std::uint8_t>(k % 251 + 1); }
// Bytes first … first + count - 1 of the stand-in output data; a period wraps the track.
inline Bytes PatternBytes(std::size_t count, std::uint64_t first = 0, std::uint64_t period = 0) {
  Bytes bytes(count);
  for (std::size_t k = 0; k < count; ++k) bytes[k] = PatternByte(period ? (first + k) % period : first + k);
  return bytes;
}

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
