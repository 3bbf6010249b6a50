#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What the ALSA endpoints and drivers share: the list of playback devices from ALSA's name
// hints, and an open PCM stream that is fed interleaved frames from one thread while another
// waits for its room. Only this layer and its two users include ALSA's headers.
namespace lumaro::platform::alsa {

// How the backend reports what is not a failure of the playback but must not pass unseen (an
// underrun the stream recovered from). Called on the feeding thread; may be empty.
using Report = std::function<void(const std::string& line)>;

struct AlsaOptions {
  Report report;
};

// One playback PCM of the hints.
struct AlsaDevice {
  std::string pcm;          // the name that opens it as it is ("hw:CARD=X,DEV=0", "mydac")
  std::string sharedPcm;    // the name of the system's mixing path to it
  std::u16string friendly;  // the name the player lists, unique within the list
};

// The playback PCMs of ALSA's name hints, in hint order: every hardware device and every PCM of
// the configuration with a description, except the system's converting and mixing aliases.
// Failure answer: an empty list. Any thread.
std::vector<AlsaDevice> ListDevices();

// The friendly name of a hint's description: its first line, then ", " and the second line
// where that names something rather than repeating one of ALSA's generic captions.
std::u16string FriendlyName(const std::string& description);

// The mixing path to the device `pcm` (of card number `card`): the system's default for the
// device ALSA's default plays to (its sound server, when there is one), ALSA's mixer behind its
// converter for other hardware devices, and the converter alone for a PCM of the configuration.
std::string SharedPcmOf(const std::string& pcm, int card, int defaultCard, int defaultDevice);

// True for the names of ALSA's own aliases, which convert or mix and so are no devices of their
// own ("default", "plughw:…", "dmix:…", "surround51:…").
bool IsAliasName(const std::string& pcm);

// ALSA sample formats the backend asks for, by the ALSA enumeration value (kept as an int so
// that this header stays free of ALSA's).
struct StreamFormat {
  int alsaFormat = 0;
  std::uint32_t rate = 0;  // frames per second
  std::uint32_t frameBytes = 0;
};

// Named ALSA formats (their enumeration values), for the users of this header.
int FormatS16Le();
int FormatS24_3Le();
int FormatS32Le();
int FormatS16Be();
int FormatS24_3Be();
int FormatS32Be();
int FormatFloatLe();
int FormatDsdU8();
int FormatDsdU16Be();
int FormatDsdU32Be();
// Bytes of one channel's sample in `alsaFormat` (0 when it is not one of the above).
std::uint32_t SampleBytes(int alsaFormat);

// Why an open failed.
enum class OpenError { kNone, kBusy, kMissing, kRefused };

// Which of ALSA's automatic conversions an open leaves out: all of them (the device as it is),
// or only rate conversion (the mixing path, which may convert the sample format).
enum class Conversions { kNone, kFormatOnly };

// What a device takes, asked of it by a short open. Each answer opens and closes the device;
// kBusy when another program holds it.
class DeviceQuery {
 public:
  DeviceQuery(const std::string& pcm, Conversions conversions);
  ~DeviceQuery();
  DeviceQuery(const DeviceQuery&) = delete;
  DeviceQuery& operator=(const DeviceQuery&) = delete;

  OpenError error() const { return error_; }
  // True when the device takes two channels of `alsaFormat` at exactly `rate`; `significant`
  // (when given) tells how many of the sample's bits the device plays (0: not told).
  bool Takes(int alsaFormat, std::uint32_t rate, std::uint32_t* significant = nullptr);
  // The rate nearest `rate` at which it takes `alsaFormat`; 0 when it takes that format at none.
  std::uint32_t NearestRate(int alsaFormat, std::uint32_t rate);
  // The period sizes (frames) it allows in `alsaFormat` at `rate`; false when none.
  bool PeriodRange(int alsaFormat, std::uint32_t rate, std::uint32_t* minFrames,
                   std::uint32_t* maxFrames);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  OpenError error_ = OpenError::kNone;
};

// An open, configured playback stream of two interleaved channels. Thread contract: one thread
// feeds it (Write, Start, Drop), one thread may wait for room at the same time (WaitForRoom), and
// Wake may be called from any thread. Every ALSA call on the PCM is made under the stream's lock.
class PcmStream {
 public:
  // Opens `pcm` and sets `format` with periods of `periodFrames` (or the nearest the device
  // allows; see periodFrames()) and a ring of `periods` periods. Failure answer: nullptr, with
  // `*error` telling why.
  static std::unique_ptr<PcmStream> Open(const std::string& pcm, Conversions conversions,
                                         const StreamFormat& format, std::uint32_t periodFrames,
                                         std::uint32_t periods, Report report, OpenError* error);
  ~PcmStream();
  PcmStream(const PcmStream&) = delete;
  PcmStream& operator=(const PcmStream&) = delete;

  std::uint32_t periodFrames() const { return periodFrames_; }
  std::uint32_t bufferFrames() const { return bufferFrames_; }

  enum class Room { kReady, kWoken, kTimeout };
  // Waits until a period of room is free (or the device is in trouble, which the next Write
  // mends), until Wake, or `milliseconds`.
  Room WaitForRoom(int milliseconds);
  // Ends the wait in progress or the next one; a wait after Rest returns kWoken at once too.
  void Wake();
  // Undoes Wake: later waits wait again.
  void Rest();

  // Writes `frames` interleaved frames, waiting for room at most a period's time per part; an
  // underrun is recovered (counted and reported) and the frames written after it. False when
  // the device failed or stayed full.
  bool Write(const std::uint8_t* data, std::uint32_t frames);
  bool Start();
  // Stops at once, dropping what is queued.
  void Drop();
  // Frames queued and not yet played.
  std::uint32_t Queued();
  std::uint64_t Underruns() const { return underruns_.load(); }

 private:
  PcmStream() = default;
  bool Recover(int error);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::mutex mutex_;
  std::string name_;
  Report report_;
  std::uint32_t frameBytes_ = 0;
  std::uint32_t periodFrames_ = 0;
  std::uint32_t bufferFrames_ = 0;
  std::uint32_t periodMs_ = 0;
  bool started_ = false;
  std::atomic<std::uint64_t> underruns_{0};
};

}  // namespace lumaro::platform::alsa
