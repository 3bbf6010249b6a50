#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/os.h"

// The endpoint family of output devices: an enumerator lists the active render endpoints, an
// endpoint is activated into an audio client, and the client's render client hands out the
// device buffer. Answers are HRESULT-like: kSOk, kSFalse (with a closest match, from
// IsFormatSupported in shared mode), kBufferSizeNotAligned (from an exclusive Initialize), or a
// failure (any other negative value).
//
// Thread contract: an enumerator and everything obtained from it are used by one thread at a
// time (the playback thread, or a device-list thread); only the event given to SetEventHandle is
// signalled from the device's own thread. Releasing an object is destroying it.
//
// Lifetimes: every object holds what it needs of the objects it came from, so the objects may be
// released in any order (the engine releases them in reverse order of creation: render client,
// audio client, endpoint, collection, enumerator). A render client stays safe to call after its
// audio client was released; what it is given then need not be played. The event given to
// SetEventHandle must stay valid until the client is stopped or released.
//
// An audio client's states: activated → Initialize (once; a second call fails) → initialised:
// GetBufferSize, SetEventHandle and GetService are answered from here on, and fail before →
// Start → running: the device signals the event once per period and plays what ReleaseBuffer
// handed over → Stop → stopped (Start may follow again). Releasing a running client stops it.
namespace lumaro::platform::endpoint {

using HResult = std::int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kBufferSizeNotAligned = static_cast<HResult>(0x88890019);
inline constexpr HResult kUnsupportedFormat = static_cast<HResult>(0x88890008);
// Initialize: another program holds the device.
inline constexpr HResult kDeviceInUse = static_cast<HResult>(0x8889000A);

inline bool Failed(HResult answer) { return answer < 0; }

enum class ShareMode { kShared, kExclusive };
enum class SubFormat : std::uint8_t { kPcm, kIeeeFloat };

// The output format, shaped as an extensible wave format record: always 2 channels with channel
// mask 3 (front left, front right) and 22 bytes of extension.
struct WaveFormat {
  static constexpr std::uint16_t kExtensibleTag = 0xFFFE;
  static constexpr std::uint16_t kExtensionSize = 22;
  static constexpr std::uint32_t kStereoMask = 3;

  std::uint16_t formatTag = kExtensibleTag;
  std::uint16_t channels = 2;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t avgBytesPerSec = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;  // the container width
  std::uint16_t extraSize = kExtensionSize;
  std::uint16_t validBitsPerSample = 0;
  std::uint32_t channelMask = kStereoMask;
  SubFormat subFormat = SubFormat::kPcm;

  bool operator==(const WaveFormat&) const = default;
};

// The stereo format of `subFormat` at `rate`: block align = 2 × container / 8, average bytes
// per second = block align × rate.
WaveFormat MakeWaveFormat(SubFormat subFormat, std::uint32_t rate, std::uint16_t containerBits,
                          std::uint16_t validBits);

// Stream flags of Initialize.
inline constexpr std::uint32_t kStreamFlagsEventCallback = 0x00040000;
inline constexpr std::uint32_t kStreamFlagsNoPersist = 0x00080000;

// Hands out the device buffer of an initialised client.
class RenderClient {
 public:
  virtual ~RenderClient() = default;
  // Points `*data` at room for `frames` frames of the client's format.
  virtual HResult GetBuffer(std::uint32_t frames, std::uint8_t** data) = 0;
  // Gives the `frames` frames written since GetBuffer to the device.
  virtual HResult ReleaseBuffer(std::uint32_t frames) = 0;
};

class AudioClient {
 public:
  virtual ~AudioClient() = default;
  // kSOk: accepted as it is. kSFalse (shared mode only): not as it is; `*closest` holds the
  // nearest format the device takes. Anything else: refused.
  virtual HResult IsFormatSupported(ShareMode mode, const WaveFormat& format,
                                    std::optional<WaveFormat>* closest) = 0;
  // Durations in 100-ns units. kBufferSizeNotAligned: GetBufferSize then tells the aligned
  // size in frames, and the client must be released and a new one activated.
  virtual HResult Initialize(ShareMode mode, std::uint32_t streamFlags, std::int64_t bufferDuration,
                             std::int64_t periodicity, const WaveFormat& format) = 0;
  virtual HResult GetBufferSize(std::uint32_t* frames) = 0;
  // The device signals `event` once per period from its own thread while it runs.
  virtual HResult SetEventHandle(Event* event) = 0;
  virtual HResult GetService(std::unique_ptr<RenderClient>* renderClient) = 0;
  virtual HResult Start() = 0;
  virtual HResult Stop() = 0;
  // Frames given but not yet played (shared mode).
  virtual HResult GetCurrentPadding(std::uint32_t* frames) = 0;
};

class Endpoint {
 public:
  virtual ~Endpoint() = default;
  // Opens the property store for reading and reads the friendly name.
  virtual HResult GetFriendlyName(std::u16string* name) = 0;
  virtual HResult Activate(std::unique_ptr<AudioClient>* client) = 0;
};

class EndpointCollection {
 public:
  virtual ~EndpointCollection() = default;
  virtual HResult GetCount(std::uint32_t* count) = 0;
  virtual HResult Item(std::uint32_t index, std::unique_ptr<Endpoint>* endpoint) = 0;
};

class Enumerator {
 public:
  virtual ~Enumerator() = default;
  // The active render endpoints, in the system's order.
  virtual HResult EnumAudioEndpoints(std::unique_ptr<EndpointCollection>* endpoints) = 0;
};

// Creates enumerators (the component system's instance creation). Any thread.
class EndpointSystem {
 public:
  virtual ~EndpointSystem() = default;
  virtual HResult CreateEnumerator(std::unique_ptr<Enumerator>* enumerator) = 0;
};

}  // namespace lumaro::platform::endpoint
