#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/audio_files.h"

// ALSA test devices for tests: an ALSA configuration that holds only devices of the test device
// (platform/sim/alsa_test_device.cpp) and reading back what such a device played.
namespace lumaro::testing {

// One device of the test device, as ALSA lists it (see alsa_test_device.cpp for the fields).
struct AlsaTestDevice {
  std::string name;                                // the PCM name, e.g. "lumaro_a"
  std::string description = "Lumaro test device";  // what the hint describes it as
  std::vector<std::string> formats = {"S16_LE"};   // ALSA format names
  std::vector<unsigned> rates = {44100};
  unsigned speed = 1;     // 1: real time; N: N times faster
  std::u16string record;  // the played bytes go there and the events to "<record>.log"; "" none
  bool busy = false;      // every open answers -EBUSY
  std::optional<std::uint64_t> stallAfter;     // consumes nothing after this many frames
  std::optional<std::uint64_t> underrunAfter;  // reports one xrun after this many frames
  // Size limits; unset keeps the device's (period 64 B … 8 MiB, buffer 128 B … 32 MiB, 2 … 32
  // periods).
  std::optional<unsigned> periodBytesMin, periodBytesMax, bufferBytesMin, bufferBytesMax;
  std::optional<unsigned> periodsMin, periodsMax;
};

// Writes an ALSA configuration into `dir` holding only the test device's type, `devices` in their
// order (so ALSA lists them in that order) and the `plug` converter by name ("plug:name" and
// "plug:'name'"), and makes ALSA read that file alone: ALSA_CONFIG_PATH points at it and ALSA's
// global configuration is dropped, so the user's and the system's configuration are never read.
// The destructor restores ALSA_CONFIG_PATH and drops ALSA's configuration again. One at a time.
class AlsaTestConfig {
 public:
  AlsaTestConfig(std::u16string_view dir, std::vector<AlsaTestDevice> devices);
  ~AlsaTestConfig();
  AlsaTestConfig(const AlsaTestConfig&) = delete;
  AlsaTestConfig& operator=(const AlsaTestConfig&) = delete;

  // The configuration file written.
  const std::string& Path() const { return path_; }
  // The configuration text for `devices` with the device's library at `library`.
  static std::string Text(const std::vector<AlsaTestDevice>& devices, std::string_view library);

 private:
  std::string path_;
  std::optional<std::string> previous_;
};

// One open … close of a device, from its side file.
struct AlsaTestSession {
  std::uint64_t openNs = 0;
  std::string format;  // the last negotiated ALSA format name
  unsigned rate = 0;
  std::uint64_t period = 0, buffer = 0;  // frames
  std::vector<std::uint64_t> startNs, firstNs, stopNs;
  std::vector<std::uint64_t> xruns, shorts;  // frames consumed since open when each happened
  std::optional<std::uint64_t> stall;
  std::uint64_t frames = 0;  // consumed since open (known at close)
  unsigned underruns = 0;    // known at close
  std::optional<std::uint64_t> closeNs;
};

struct AlsaTestLog {
  unsigned busy = 0;  // opens refused
  std::vector<AlsaTestSession> sessions;
  std::vector<std::string> unknown;  // lines not understood
};

// What the device with `record` played (empty when nothing), and its side file.
Bytes ReadAlsaRecord(std::u16string_view record);
AlsaTestLog ReadAlsaTestLog(std::u16string_view record);

}  // namespace lumaro::testing
