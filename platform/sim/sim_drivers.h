#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/driver_api.h"

namespace lumaro::platform::sim {

using driver::SampleType;

// How one simulated driver answers.
struct SimDriverScript {
  // The driver's "description"; the subkey is named after it unless `subkeyName` is set.
  std::u16string description;
  std::u16string subkeyName;
  // The "CLSID" text; when empty, one is made from the driver's place in the registry.
  std::u16string clsidText;
  // False: the class cannot be created.
  bool creatable = true;
  std::int32_t version = driver::kMinimumDriverVersion;
  std::int32_t initAnswer = driver::kInitSucceeded;
  // init blocks this long before it answers (or until the registry ends its hangs).
  std::uint32_t initBlockMs = 0;
  // Which IO formats future switches to.
  bool takesPcm = true;
  bool takesDsd = true;
  // Rates canSampleRate and setSampleRate take in PCM format; empty: every rate of the ladder.
  std::vector<std::uint32_t> pcmRates;
  // Bit rates taken in 1-bit format; empty: DSD64 … DSD512.
  std::vector<std::uint32_t> dsdRates;
  SampleType pcmType = SampleType::kInt32LSB;
  SampleType dsdType = SampleType::kDSDInt8MSB1;
  // Once started the driver calls bufferSwitch (or, with `timeInfoOnly`, bufferSwitchTimeInfo)
  // at start and after each outputReady, this many times in all; then it falls silent.
  std::uint64_t switchLimit = UINT64_MAX;
  bool timeInfoOnly = false;
  std::int32_t minBufferSize = 64;
  std::int32_t maxBufferSize = 1 << 20;
  // Names of calls that answer kAseHwMalfunction (init answers 0): "init", "future",
  // "canSampleRate", "setSampleRate", "getBufferSize", "createBuffers", "getChannelInfo",
  // "start", "stop", "disposeBuffers".
  std::set<std::string> failing;
};

// What the registry holds.
struct SimRegistryScript {
  // No drivers' key at all.
  bool noKey = false;
  std::vector<SimDriverScript> drivers;
};

// A registry of drivers that answer as scripted and record every call. A running driver calls
// back on the thread that starts it or makes a half ready, before that call answers, so a test
// runs in one fixed order. Drivers hold the
// registry's state, so they (and a probe thread stuck in init) may outlive the registry object.
// Thread contract: as the driver family; the records may be read from any thread.
class SimDriverRegistry final : public driver::DriverRegistry {
 public:
  explicit SimDriverRegistry(SimRegistryScript script);
  ~SimDriverRegistry() override;

  std::unique_ptr<driver::DriverKey> OpenDriversKey() override;
  std::unique_ptr<driver::Driver> CreateInstance(const driver::ClassId& id) override;

  // Every driver call, in order, each as "description: call", e.g. "DAC: init",
  // "DAC: future dsd", "DAC: canSampleRate 44100", "DAC: release".
  std::vector<std::string> Calls() const;
  // Lets every init that blocks now, or will, answer at once.
  void EndHangs();
  // Drivers alive now (to check that everything was released).
  int LiveDrivers() const;
  // The bytes of channel 0 or 1 of every half the player made ready since the last
  // createBuffers, in order.
  std::vector<std::uint8_t> Played(int channel) const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace lumaro::platform::sim
