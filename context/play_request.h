#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "context/app_context.h"
#include "context/step_table.h"
#include "context/string_list.h"
#include "dsp/buffer_slot.h"
#include "platform/endpoint_api.h"

namespace lumaro::context {

// One track of a gapless list.
struct TrackTableEntry {
  dsp::BufferSlot Record;         // the track's decoded buffer until it is joined
  double StartSeconds = 0.0;      // start of the track within the joined buffer
  std::uint64_t StartOffset = 0;  // start of the track within the device's output data, bytes
};

// The output a driver was set up for; the preparation makes its bytes.
struct DriverFormat {
  std::uint32_t NativeDsd = 0;      // 1: 1-bit data at DriverRate; 0: integer PCM
  std::uint32_t DriverRate = 0;     // the rate set on the driver (the bit rate for 1-bit data)
  std::uint32_t ValidBits = 0;      // PCM: valid bits per sample; 1-bit: 1
  std::uint32_t ContainerBits = 0;  // PCM: bits per sample in the driver's buffer; 1-bit: 8
  std::uint32_t ByteOrderFlag = 0;  // PCM: big-endian samples; 1-bit: earliest bit in bit 7
};

// The working state a device family keeps while its steps run; each family defines its own.
class DeviceSession {
 public:
  virtual ~DeviceSession() = default;
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
  // The output format the device family chose: the endpoint's format record, and whether it
  // carries DoP. The preparation steps make the device's bytes for it.
  platform::endpoint::WaveFormat WaveFormat;
  std::uint32_t DopOutput = 0;
  // The format the driver family chose.
  DriverFormat DriverOutput;
  // The device family's objects for this track (made by the family's first step, released when
  // that step returns).
  std::unique_ptr<DeviceSession> Session;
  std::unique_ptr<TrackTableEntry[]> TrackTable;

  // The step handlers this playback runs with (the player's own table; tests put recording or
  // simulated steps here). Without them only the engine's own steps run.
  const StepTable* Steps = nullptr;
};

// DecodedKind values.
inline constexpr std::uint32_t kKindInteger = 1;
inline constexpr std::uint32_t kKindFloat = 3;

}  // namespace lumaro::context
