#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The driver family of output devices: a registry lists the installed drivers (one subkey each,
// with a "description" and a "CLSID" text), a class id opens a driver object, and the driver
// plays from a double buffer per channel, calling the player back once per half.
//
// Thread contract: the registry may be called from any thread, at the same time from several;
// it and everything it hands out must outlive every thread that uses them (a process's registry
// lives as long as the process). A key or a driver object is used by one thread at a time: the
// thread that opened or created it, or one it was handed to. Only the callbacks given to
// createBuffers run on the driver's own thread, from start until stop answers (a driver may also
// call asioMessage at any time between createBuffers and disposeBuffers). Releasing a driver is
// destroying it; a running driver stops first.
//
// A driver's states: created → init (answers 1) → initialised: future, canSampleRate,
// setSampleRate, getBufferSize and getChannelInfo are answered → createBuffers → buffers made
// (the channel's sample type follows the IO format) → start → running: the driver calls
// bufferSwitch once per half and plays the half the player was not given to fill → stop →
// disposeBuffers. Any call out of order fails.
namespace lumaro::platform::driver {

// The answers of the driver calls other than init and getDriverVersion. The values are those of
// the drivers' published binary interface, so a real driver's answers pass through unchanged.
using AsioError = std::int32_t;

// The call did what was asked (every call but future).
inline constexpr AsioError kAseOk = 0;
// future did what was asked; only this answer means success there.
inline constexpr AsioError kAseSuccess = 0x3F4847A0;
// Failures.
inline constexpr AsioError kAseNotPresent = -1000;
inline constexpr AsioError kAseHwMalfunction = -999;
inline constexpr AsioError kAseInvalidParameter = -998;
inline constexpr AsioError kAseInvalidMode = -997;
inline constexpr AsioError kAseNoClock = -995;
inline constexpr AsioError kAseNoMemory = -994;

// init's answer when the driver is ready; any other answer is a failure.
inline constexpr std::int32_t kInitSucceeded = 1;
// The oldest driver version the player drives.
inline constexpr std::int32_t kMinimumDriverVersion = 2;

// Selectors of future.
inline constexpr std::int32_t kAsioSetIoFormat = 0x23111961;

// The record future(kAsioSetIoFormat) takes: 512 bytes, zeroed but for the format type.
inline constexpr std::int32_t kASIOPCMFormat = 0;
inline constexpr std::int32_t kASIODSDFormat = 1;
struct IoFormat {
  std::int32_t formatType = kASIOPCMFormat;
  std::array<std::uint8_t, 508> reserved{};
};
static_assert(sizeof(IoFormat) == 512);

// The sample types a channel reports. Integer types are named by width and byte order (MSB:
// big-endian); Int32LSB16/24 and Int32MSB16/24 carry 16 or 24 valid bits in a 32-bit word. The
// 1-bit types carry eight samples per byte, the earliest in the least (LSB1) or the most (MSB1)
// significant bit.
enum class SampleType : std::int32_t {
  kInt16MSB,
  kInt24MSB,
  kInt32MSB,
  kFloat32MSB,
  kFloat64MSB,
  kInt32MSB16,
  kInt32MSB24,
  kInt16LSB,
  kInt24LSB,
  kInt32LSB,
  kFloat32LSB,
  kFloat64LSB,
  kInt32LSB16,
  kInt32LSB24,
  kDSDInt8LSB1,
  kDSDInt8MSB1,
  // A type a driver may report that the player does not know (e.g. 18- or 20-bit words).
  kUnknown,
};

// One channel's double buffer: the player names the channel, createBuffers fills in the two
// halves (each bufferSize samples of the channel's type, or bufferSize / 8 bytes in 1-bit form).
struct BufferInfo {
  bool isInput = false;
  std::int32_t channelNum = 0;
  std::array<void*, 2> buffers{};
};

// What getChannelInfo tells about the channel and direction the player names.
struct ChannelInfo {
  std::int32_t channel = 0;
  bool isInput = false;
  bool isActive = false;
  std::int32_t channelGroup = 0;
  SampleType type = SampleType::kInt32LSB;
  std::u16string name;
};

// The timing record of bufferSwitchTimeInfo.
struct TimeInfo {
  double speed = 0;
  std::uint64_t systemTimeNs = 0;
  std::uint64_t samplePosition = 0;
  double sampleRate = 0;
  std::uint32_t flags = 0;
};

// Selectors of asioMessage.
inline constexpr std::int32_t kAsioSelectorSupported = 1;
inline constexpr std::int32_t kAsioEngineVersion = 2;
inline constexpr std::int32_t kAsioResetRequest = 3;
inline constexpr std::int32_t kAsioBufferSizeChange = 4;
inline constexpr std::int32_t kAsioResyncRequest = 5;
inline constexpr std::int32_t kAsioLatenciesChanged = 6;
inline constexpr std::int32_t kAsioSupportsTimeInfo = 7;

// The player's answers to the driver. They receive no context: what they change is
// process-wide. They run on the driver's thread and must not block.
struct Callbacks {
  // Half `index` is the one the driver plays next; the other one is free to fill.
  void (*bufferSwitch)(std::int32_t index, bool directProcess) = nullptr;
  void (*sampleRateDidChange)(double rate) = nullptr;
  // Answers a selector above; `value` is the selector asked about for kAsioSelectorSupported.
  std::int32_t (*asioMessage)(std::int32_t selector, std::int32_t value, void* message,
                              double* options) = nullptr;
  // bufferSwitch with timing; called instead of it only by a driver that was told that time
  // information is supported (kAsioSupportsTimeInfo answering 1).
  TimeInfo* (*bufferSwitchTimeInfo)(TimeInfo* params, std::int32_t index,
                                    bool directProcess) = nullptr;
};

// One installed driver. Every call fails with a negative AsioError (init with an answer other
// than kInitSucceeded) and leaves the driver as it was; none blocks longer than the driver's
// own work, except that a broken driver may hang in init (the player probes it on a thread of
// its own first).
class Driver {
 public:
  virtual ~Driver() = default;
  // `systemHandle`: a window of the player, or nullptr. Answers kInitSucceeded when ready.
  virtual std::int32_t init(void* systemHandle) = 0;
  virtual std::int32_t getDriverVersion() = 0;
  // kAsioSetIoFormat with an IoFormat: switches PCM or 1-bit transfer; kAseSuccess when done.
  virtual AsioError future(std::int32_t selector, void* params) = 0;
  // kAseOk when the driver can run at `rate` (the bit rate in 1-bit format) in its format now.
  virtual AsioError canSampleRate(double rate) = 0;
  virtual AsioError setSampleRate(double rate) = 0;
  // Buffer sizes in samples per channel and half.
  virtual AsioError getBufferSize(std::int32_t* minSize, std::int32_t* maxSize,
                                  std::int32_t* preferredSize, std::int32_t* granularity) = 0;
  // Makes the double buffers of `channels` entries of `infos`; the callbacks record must stay
  // valid until disposeBuffers.
  virtual AsioError createBuffers(BufferInfo* infos, std::int32_t channels, std::int32_t bufferSize,
                                  const Callbacks* callbacks) = 0;
  // Fills `info` for the channel and direction it names.
  virtual AsioError getChannelInfo(ChannelInfo* info) = 0;
  virtual AsioError start() = 0;
  // The half the player was given is filled (a hint; drivers may ignore it).
  virtual AsioError outputReady() = 0;
  // No callback runs once stop has answered.
  virtual AsioError stop() = 0;
  virtual AsioError disposeBuffers() = 0;
};

// What every two-channel output driver checks of createBuffers' request: output channels 0 and
// 1 in that order, and callbacks with a bufferSwitch. kAseOk or kAseInvalidParameter.
AsioError CheckStereoBuffers(const BufferInfo* infos, std::int32_t channels,
                             const Callbacks* callbacks);
// Fills `info` for output channel 0 ("Left") or 1 ("Right") of a two-channel driver, whose
// channels are `active` and of `type`; kAseInvalidParameter for any other channel.
AsioError DescribeStereoChannel(ChannelInfo* info, bool active, SampleType type);

// A driver's class, converted from its "CLSID" text.
using ClassId = std::array<std::uint8_t, 16>;

// The class id written as "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (hexadecimal digits in any
// letter case); nullopt for any other text.
std::optional<ClassId> ClassIdFromString(std::u16string_view text);
// The text ClassIdFromString reads, in capitals.
std::u16string ClassIdToString(const ClassId& id);

// One installed driver's subkey, open for reading.
class Subkey {
 public:
  virtual ~Subkey() = default;
  // The text value `name` ("description", "CLSID"); false when it is missing or not text.
  virtual bool QueryValue(std::u16string_view name, std::u16string* value) = 0;
};

// The drivers' key: one subkey per installed driver.
class DriverKey {
 public:
  virtual ~DriverKey() = default;
  // The name of subkey `index` (from 0, in the registry's order); false past the last one.
  virtual bool EnumKey(std::uint32_t index, std::u16string* name) = 0;
  // Opens the subkey `name` for reading; nullptr when it cannot be opened.
  virtual std::unique_ptr<Subkey> OpenKey(std::u16string_view name) = 0;
};

// The installed drivers of this process's platform.
class DriverRegistry {
 public:
  virtual ~DriverRegistry() = default;
  // Opens the drivers' key; nullptr when the machine has none.
  virtual std::unique_ptr<DriverKey> OpenDriversKey() = 0;
  // Creates the driver of class `id` (not yet initialised); nullptr when there is no such class
  // or it cannot be created.
  virtual std::unique_ptr<Driver> CreateInstance(const ClassId& id) = 0;
};

}  // namespace lumaro::platform::driver
