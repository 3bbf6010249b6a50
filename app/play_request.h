#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/app_context.h"
#include "app/string_list.h"
#include "dsp/buffer_slot.h"
#include "platform/endpoint_api.h"

namespace lumaro::engine {
struct EngineSteps;
}

namespace lumaro::app {

// One track of a gapless list.
struct TrackTableEntry {
  dsp::BufferSlot Record;         // the track's decoded buffer until it is joined
  double StartSeconds = 0.0;      // start of the track within the joined buffer
  std::uint64_t StartOffset = 0;  // start of the track within the device's output data, bytes
};

// What a drop hands to a playback thread: App, Device, Rate and Paths filled by the window; the
// rest is the engine's working state. Owned by the playback thread from its start; only that
// thread (and the workers of its stages, inside a stage) touches it.
struct PlayRequest {
  AppContext* App = nullptr;
  std::u16string Device;  // "W: " or "A: " and a name; shorter than 260 units
  std::u16string Rate;    // "Share", "Auto", "D64" … or a rate in decimal
  std::uint32_t TrackCount = 0;
  std::uint32_t TrackIndex = 0;
  std::unique_ptr<StringList> Paths;
  const std::u16string* TrackPath = nullptr;  // entry TrackIndex of Tracks (not owned)
  std::unique_ptr<StringList> Tracks;
  dsp::BufferSlot Buffer;
  std::uint32_t IsDsd = 0;
  std::uint32_t DecodedKind = 0;  // 1 integer (also 1-bit), 3 floating point
  std::uint32_t DecodedBits = 0;
  std::uint32_t DecodedRate = 0;
  // Endpoint-family working state.
  platform::endpoint::WaveFormat WaveFormat;
  std::unique_ptr<platform::endpoint::Enumerator> Enumerator;
  std::unique_ptr<platform::endpoint::Endpoint> Endpoint;
  std::unique_ptr<platform::endpoint::EndpointCollection> Endpoints;
  std::unique_ptr<platform::endpoint::AudioClient> AudioClient;
  std::unique_ptr<platform::endpoint::RenderClient> RenderClient;
  std::uint32_t DopOutput = 0;     // 1 when WaveFormat carries DoP
  std::uint32_t BufferFrames = 0;  // the endpoint buffer in frames
  // The driver family's working state joins here with the driver steps.
  std::unique_ptr<TrackTableEntry[]> TrackTable;

  // The step handlers this playback runs with (app::PlayerSteps() for the player; tests put
  // recording or simulated steps here). Without them only the engine's own steps run.
  const engine::EngineSteps* Steps = nullptr;
};

// DecodedKind values.
inline constexpr std::uint32_t kKindInteger = 1;
inline constexpr std::uint32_t kKindFloat = 3;

}  // namespace lumaro::app
