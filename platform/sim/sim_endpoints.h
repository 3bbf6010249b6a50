#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/endpoint_api.h"

namespace lumaro::platform::sim {

using endpoint::ShareMode;
using endpoint::WaveFormat;

// How one simulated endpoint answers.
struct SimEndpointScript {
  std::u16string name;
  // Formats taken as they are; the default takes the exclusive PCM candidates at 32 kHz …
  // 768 kHz and shared float at 8 kHz … 384 kHz.
  std::function<bool(ShareMode, const WaveFormat&)> accepts;
  // Shared formats not taken are answered kSFalse with this closest match (when set).
  std::optional<WaveFormat> sharedClosest;
  // When set, the first exclusive Initialize answers "not aligned" and GetBufferSize then
  // tells this many frames.
  std::optional<std::uint32_t> alignedFrames;
  // Names of calls that fail: "GetFriendlyName", "Activate", "IsFormatSupported",
  // "Initialize", "GetBufferSize", "SetEventHandle", "GetService", "GetBuffer",
  // "ReleaseBuffer", "Start", "Stop", "GetCurrentPadding".
  std::set<std::string> failing;
  // The calls in `failing` answer failure only once this many buffers have been released since
  // Initialize (0: from the first call), so a device can fail after it has started.
  std::uint64_t failingAfterReleases = 0;
  // The event is signalled at Start and at every ReleaseBuffer, at most this many times.
  std::uint64_t signalLimit = UINT64_MAX;
  // Frames GetCurrentPadding reports (shared mode).
  std::uint32_t padding = 0;
  // Called after every ReleaseBuffer with the number of releases since Initialize (from 1) and
  // the bytes released; a test can raise commands or seeks here.
  std::function<void(std::uint64_t release, const std::vector<std::uint8_t>& bytes)> onRelease;
};

// What the enumerator side answers.
struct SimSystemScript {
  bool failCreate = false;
  bool failEnumerate = false;
  bool failCount = false;
  std::vector<SimEndpointScript> endpoints;
};

// Endpoints that answer as scripted and record every call and every byte they are given. The
// device "plays" synchronously: Start and every ReleaseBuffer signal the event at once, so a
// feeding loop runs as fast as it feeds. Thread contract: as the endpoint family; the records may
// be read from any thread.
class SimEndpointSystem final : public endpoint::EndpointSystem {
 public:
  explicit SimEndpointSystem(SimSystemScript script);
  ~SimEndpointSystem() override;

  endpoint::HResult CreateEnumerator(std::unique_ptr<endpoint::Enumerator>* enumerator) override;

  // Every call, in order, e.g. "Activate Speakers", "IsFormatSupported exclusive pcm 44100 32/32",
  // "Initialize exclusive pcm 44100 24/24 flags=0xc0000 2000000 2000000", "Start".
  std::vector<std::string> Calls() const;
  // Every byte given with ReleaseBuffer since the last Initialize, and the frames of each call.
  std::vector<std::uint8_t> Bytes() const;
  std::vector<std::uint32_t> Releases() const;
  // Number of audio clients alive now (to check that everything was released).
  int LiveClients() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace lumaro::platform::sim
