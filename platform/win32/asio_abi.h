#pragma once

// The drivers' binary interface on 64-bit Windows, declared from its published layout: the
// driver object's slots in order, the records it exchanges and the numbers of its sample types.
// The player reaches a driver through it (asio_drivers_win32.cpp), and the project's test driver
// offers one through it. Windows' `long` is 32 bits: every such field is std::int32_t here.
#include <objbase.h>

#include <cstdint>

#include "platform/driver_api.h"
#include "platform/win32/win32_api.h"

namespace lumaro::platform::driver::abi {

using AsioBool = std::int32_t;

struct NativeBufferInfo {
  AsioBool isInput;
  std::int32_t channelNum;
  void* buffers[2];
};
static_assert(sizeof(NativeBufferInfo) == 24);

inline constexpr std::size_t kChannelNameSize = 32;
struct NativeChannelInfo {
  std::int32_t channel;
  AsioBool isInput;
  AsioBool isActive;
  std::int32_t channelGroup;
  std::int32_t type;
  char name[kChannelNameSize];
};
static_assert(sizeof(NativeChannelInfo) == 52);

// 64-bit counts as two 32-bit halves, the high one first.
struct NativeSamples {
  std::uint32_t hi;
  std::uint32_t lo;
};
inline constexpr unsigned kHalfBits = 32;
inline constexpr NativeSamples SplitSamples(std::uint64_t value) {
  return {static_cast<std::uint32_t>(value >> kHalfBits), static_cast<std::uint32_t>(value)};
}
inline constexpr std::uint64_t JoinSamples(const NativeSamples& samples) {
  return (std::uint64_t{samples.hi} << kHalfBits) | samples.lo;
}

struct NativeTimeInfo {
  double speed;
  NativeSamples systemTime;
  NativeSamples samplePosition;
  double sampleRate;
  std::uint32_t flags;
  char reserved[12];
};

struct NativeTimeCode {
  double speed;
  NativeSamples timeCodeSamples;
  std::uint32_t flags;
  char future[64];
};

struct NativeTime {
  std::int32_t reserved[4];
  NativeTimeInfo timeInfo;
  NativeTimeCode timeCode;
};
static_assert(sizeof(NativeTime) == 152);

struct NativeCallbacks {
  void (*bufferSwitch)(std::int32_t doubleBufferIndex, AsioBool directProcess);
  void (*sampleRateDidChange)(double rate);
  std::int32_t (*asioMessage)(std::int32_t selector, std::int32_t value, void* message,
                              double* options);
  NativeTime* (*bufferSwitchTimeInfo)(NativeTime* params, std::int32_t doubleBufferIndex,
                                      AsioBool directProcess);
};

struct NativeClockSource {
  std::int32_t index;
  std::int32_t associatedChannel;
  std::int32_t associatedGroup;
  AsioBool isCurrentSource;
  char name[kChannelNameSize];
};

// The driver object: the component system's three slots, then the driver's in this order. The
// interface id a driver answers to is its own class id.
class IAsio : public IUnknown {
 public:
  virtual AsioBool init(void* systemHandle) = 0;
  virtual void getDriverName(char* name) = 0;
  virtual std::int32_t getDriverVersion() = 0;
  virtual void getErrorMessage(char* text) = 0;
  virtual std::int32_t start() = 0;
  virtual std::int32_t stop() = 0;
  virtual std::int32_t getChannels(std::int32_t* inputs, std::int32_t* outputs) = 0;
  virtual std::int32_t getLatencies(std::int32_t* input, std::int32_t* output) = 0;
  virtual std::int32_t getBufferSize(std::int32_t* minSize, std::int32_t* maxSize,
                                     std::int32_t* preferredSize, std::int32_t* granularity) = 0;
  virtual std::int32_t canSampleRate(double rate) = 0;
  virtual std::int32_t getSampleRate(double* rate) = 0;
  virtual std::int32_t setSampleRate(double rate) = 0;
  virtual std::int32_t getClockSources(NativeClockSource* clocks, std::int32_t* count) = 0;
  virtual std::int32_t setClockSource(std::int32_t reference) = 0;
  virtual std::int32_t getSamplePosition(NativeSamples* position, NativeSamples* timeStamp) = 0;
  virtual std::int32_t getChannelInfo(NativeChannelInfo* info) = 0;
  virtual std::int32_t createBuffers(NativeBufferInfo* infos, std::int32_t channels,
                                     std::int32_t bufferSize, NativeCallbacks* callbacks) = 0;
  virtual std::int32_t disposeBuffers() = 0;
  virtual std::int32_t controlPanel() = 0;
  virtual std::int32_t future(std::int32_t selector, void* options) = 0;
  virtual std::int32_t outputReady() = 0;
};

// A driver's longest name and error text, terminator included.
inline constexpr std::size_t kDriverTextSize = 128;

// The sample types' numbers in the binary interface and the player's names for them; a number
// not listed (the 18- and 20-bit words, other 1-bit forms) is SampleType::kUnknown.
SampleType SampleTypeFromNative(std::int32_t type);
// The number of a known type; SampleType::kUnknown has none (-1).
std::int32_t SampleTypeToNative(SampleType type);

// The class id's text converted by the component system; false when it is not one.
bool GuidFromClassId(const ClassId& id, GUID* guid);

}  // namespace lumaro::platform::driver::abi
