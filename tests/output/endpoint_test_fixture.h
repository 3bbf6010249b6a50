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
  for (std::size_t k = 0; k < count; ++k)
    bytes[k] = PatternByte(period ? (first + k) % period : first + k);
  return bytes;
}

// The release of the first data buffer, after the pre-fill and 3 s of lead-in.
inline constexpr std::uint64_t kFirstData = 17;

// The engine with the endpoint family's real steps against simulated endpoints. Step 18 (the
// preparation that later turns the track into device bytes) is a stand-in that makes a PcmBuffer
// of the chosen format holding PatternByte(k) at byte k, then continues with step 21.
class EndpointTest : public EngineTest {
 protected:
  EndpointTest() {
    steps_.Family(context::DeviceFamily::kEndpoint) = output::EndpointFamilySteps();
    steps_.raisePriority = [this](context::PlayRequest& r) -> Result {
      recorder_.Add("prepare");
      dsp::PcmBufferPtr out;
      const auto bits = static_cast<std::uint8_t>(r.WaveFormat.bitsPerSample);
      if (dsp::NewPcmBuffer(out, dsp::kPcmInteger, 2, bits, r.WaveFormat.samplesPerSec,
                            outputFrames_) != kOk) {
        return 1;
      }
      for (std::uint64_t k = 0; k < out->DataSize(); ++k) out->Data()[k] = PatternByte(k);
      r.Buffer.Put(std::move(out));
      return engine::StepMachine(r, 21);
    };
    app_.PlayOnce = 1;
  }
  void UseEndpoints(platform::sim::SimSystemScript script) {
    UseSimEndpoints(services_, endpoints_, std::move(script));
  }
  std::vector<std::string> CallsStartingWith(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const auto& call : endpoints_->Calls()) {
      if (call.starts_with(prefix)) out.push_back(call);
    }
    return out;
  }
  // Plays `paths` on endpoint "Test", calls `act` at the release of the first data buffer, and
  // keeps the next buffer and the current track as the device saw them, then stops.
  void PlayActingOnData(
      const std::vector<std::u16string>& paths, std::u16string rate, std::function<void()> act,
      std::function<bool(platform::sim::ShareMode, const platform::sim::WaveFormat&)> accepts =
          {}) {
    platform::sim::SimEndpointScript e = SimEndpoint(u"Test", std::move(accepts));
    e.onRelease = [this, act](std::uint64_t release, const std::vector<std::uint8_t>& bytes) {
      if (release == kFirstData) act();
      if (release == kFirstData + 1) {
        next_ = bytes;
        nextTrack_ = app_.CurrentTrack.Load();
        app_.PlayCommand = context::kCommandStop;
      }
    };
    UseEndpoints({.endpoints = {e}});
    app_.PlayOnce = 0;
    ASSERT_EQ(Play(paths, u"W: Test", std::move(rate)), kOk) << Utf8(window_.Text(2003));
  }

  std::unique_ptr<platform::sim::SimEndpointSystem> endpoints_;
  std::uint64_t outputFrames_ = 1000;  // frames of the stand-in output
  std::vector<std::uint8_t> next_;     // the buffer after the first data buffer
  std::uint32_t nextTrack_ = 99;       // the current track then
};

}  // namespace lumaro::testing
