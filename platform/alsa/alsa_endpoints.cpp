#include "platform/alsa/alsa_endpoints.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/device_formats.h"
#include "platform/failure.h"

namespace lumaro::platform::alsa {

using endpoint::HResult;
using endpoint::kEFail;
using endpoint::kSFalse;
using endpoint::kSOk;
using endpoint::ShareMode;
using endpoint::SubFormat;
using endpoint::WaveFormat;

namespace {

enum : Result {
  kErrBusy = FirstCode(FailureSite::kAlsaDevices),
  kErrMissing,
  kErrRefused,
  kErrWrite,
  kErrStart,
};
constexpr FailureNames kFailures{
    FailureSite::kAlsaDevices,
    kErrStart,
    {"device in use by another program", "device missing", "device refused the stream",
     "device write failed", "device start failed"}};

constexpr std::int64_t kHundredNanosecondsPerSecond = 10'000'000;
// Exclusive mode: the device's ring holds two of the player's buffers.
constexpr std::uint32_t kExclusivePeriods = 2;
// Shared mode: the player's buffer is the ring, signalled each quarter.
constexpr std::uint32_t kSharedPeriods = 4;
// How long the service thread waits for room before it looks at its stop flag again.
constexpr int kServiceSliceMs = 100;

// The ALSA format that carries `f` bit for bit; -1 when none does.
int AlsaFormatOf(ShareMode mode, const WaveFormat& f) {
  if (f.channels != 2) return -1;
  if (mode == ShareMode::kShared) {
    return f.subFormat == SubFormat::kIeeeFloat && f.bitsPerSample == kSharedFloatBits
               ? FormatFloatLe()
               : -1;
  }
  if (f.subFormat != SubFormat::kPcm) return -1;
  if (f.bitsPerSample == 16 && f.validBitsPerSample == 16) return FormatS16Le();
  if (f.bitsPerSample == 24 && f.validBitsPerSample == 24) return FormatS24_3Le();
  if (f.bitsPerSample == 32 && (f.validBitsPerSample == 24 || f.validBitsPerSample == 32))
    return FormatS32Le();
  return -1;
}

Conversions ConversionsOf(ShareMode mode) {
  return mode == ShareMode::kExclusive ? Conversions::kNone : Conversions::kFormatOnly;
}

// Notes why an open failed and answers the endpoint family's code for it.
HResult OpenFailure(OpenError error, const std::string& pcm) {
  switch (error) {
    case OpenError::kBusy:
      kFailures.Note(kErrBusy, pcm);
      return endpoint::kDeviceInUse;
    case OpenError::kMissing:
      kFailures.Note(kErrMissing, pcm);
      return kEFail;
    default:
      kFailures.Note(kErrRefused, pcm);
      return kEFail;
  }
}

// One initialised client's stream and the thread that signals its room. The client and its
// render clients hold it, so they may be released in any order.
class Playing {
 public:
  Playing(std::unique_ptr<PcmStream> stream, std::uint32_t frameBytes, std::uint32_t rate)
      : stream_(std::move(stream)), frameBytes_(frameBytes), rate_(rate) {}
  ~Playing() { Stop(); }

  PcmStream& stream() { return *stream_; }
  void SetEvent(Event* event) { event_ = event; }

  bool Start() {
    if (service_.joinable() || !stream_->Start()) return false;
    stopping_ = false;
    try {
      service_ = std::thread([this] { Serve(); });
    } catch (const std::exception&) {
      stream_->Drop();
      return false;
    }
    return true;
  }
  // Ends the service thread and drops what is queued; Start may follow.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    written_.notify_all();
    stream_->Wake();
    if (service_.joinable()) service_.join();
    stream_->Drop();
    stream_->Rest();
  }

  // The room GetBuffer hands out.
  std::uint8_t* Room(std::uint32_t frames) {
    staging_.resize(static_cast<std::size_t>(frames) * frameBytes_);
    return staging_.data();
  }
  bool Give(std::uint32_t frames) {
    if (static_cast<std::size_t>(frames) * frameBytes_ > staging_.size()) return false;
    const bool ok = stream_->Write(staging_.data(), frames);
    if (!ok) {
      kFailures.Note(kErrWrite);
      failed_ = true;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++writes_;
    }
    written_.notify_all();
    return ok;
  }
  bool failed() const { return failed_.load(); }

 private:
  // Signals once per period of room, then waits for the player's write (or a period) so that a
  // device that stays writable is not signalled in a loop.
  void Serve() {
    const auto periodTime = std::chrono::milliseconds(
        std::max<std::uint64_t>(stream_->periodFrames() * 1000ULL / rate_, 1));
    for (;;) {
      const PcmStream::Room room = stream_->WaitForRoom(kServiceSliceMs);
      std::unique_lock<std::mutex> lock(mutex_);
      if (stopping_) return;
      if (room != PcmStream::Room::kReady) continue;
      const std::uint64_t before = writes_;
      if (Event* e = event_.load()) e->Set();
      written_.wait_for(lock, periodTime, [&] { return stopping_ || writes_ != before; });
    }
  }
  std::unique_ptr<PcmStream> stream_;
  const std::uint32_t frameBytes_;
  const std::uint32_t rate_;
  std::vector<std::uint8_t> staging_;
  std::atomic<Event*> event_{nullptr};
  std::atomic<bool> failed_{false};
  std::mutex mutex_;
  std::condition_variable written_;
  std::uint64_t writes_ = 0;
  bool stopping_ = false;
  std::thread service_;
};

class AlsaRenderClient final : public endpoint::RenderClient {
 public:
  explicit AlsaRenderClient(std::shared_ptr<Playing> playing) : playing_(std::move(playing)) {}
  HResult GetBuffer(std::uint32_t frames, std::uint8_t** data) override {
    if (playing_->failed()) return kEFail;
    *data = playing_->Room(frames);
    return kSOk;
  }
  HResult ReleaseBuffer(std::uint32_t frames) override {
    return playing_->Give(frames) ? kSOk : kEFail;
  }

 private:
  std::shared_ptr<Playing> playing_;
};

class AlsaAudioClient final : public endpoint::AudioClient {
 public:
  AlsaAudioClient(AlsaDevice device, AlsaOptions options)
      : device_(std::move(device)), options_(std::move(options)) {}
  ~AlsaAudioClient() override {
    if (playing_) playing_->Stop();
  }

  HResult IsFormatSupported(ShareMode mode, const WaveFormat& format,
                            std::optional<WaveFormat>* closest) override {
    closest->reset();
    const int alsaFormat = AlsaFormatOf(mode, format);
    if (alsaFormat < 0) return endpoint::kUnsupportedFormat;
    const std::string& pcm = PcmOf(mode);
    DeviceQuery query(pcm, ConversionsOf(mode));
    if (mode == ShareMode::kExclusive) {
      // A held device cannot be asked; Initialize then tells that it is in use.
      if (query.error() == OpenError::kBusy) return kSOk;
      if (query.error() != OpenError::kNone) return kEFail;
      std::uint32_t significant = 0;
      if (!query.Takes(alsaFormat, format.samplesPerSec, &significant)) {
        return endpoint::kUnsupportedFormat;
      }
      // A converter that plays fewer bits than the samples carry is not bit-perfect (and breaks
      // DoP, whose lowest bits carry data).
      const bool truncates = significant != 0 && significant < format.validBitsPerSample;
      return truncates ? endpoint::kUnsupportedFormat : kSOk;
    }
    if (query.error() != OpenError::kNone) return OpenFailure(query.error(), pcm);
    if (query.Takes(alsaFormat, format.samplesPerSec)) return kSOk;
    // The player judges the mixer's rate itself.
    const std::uint32_t rate = query.NearestRate(alsaFormat, format.samplesPerSec);
    if (rate == 0) return endpoint::kUnsupportedFormat;
    *closest =
        endpoint::MakeWaveFormat(SubFormat::kIeeeFloat, rate, kSharedFloatBits, kSharedFloatBits);
    return kSFalse;
  }

  HResult Initialize(ShareMode mode, std::uint32_t, std::int64_t duration, std::int64_t,
                     const WaveFormat& format) override {
    if (playing_ || duration <= 0 || format.samplesPerSec == 0) return kEFail;
    const int alsaFormat = AlsaFormatOf(mode, format);
    if (alsaFormat < 0) return endpoint::kUnsupportedFormat;
    const auto frames = static_cast<std::uint32_t>(std::clamp<std::int64_t>(
        (duration * format.samplesPerSec + kHundredNanosecondsPerSecond / 2) /
            kHundredNanosecondsPerSecond,
        1, UINT32_MAX));
    const bool exclusive = mode == ShareMode::kExclusive;
    const std::uint32_t periods = exclusive ? kExclusivePeriods : kSharedPeriods;
    const StreamFormat stream{alsaFormat, format.samplesPerSec, format.blockAlign};
    OpenError error = OpenError::kNone;
    std::unique_ptr<PcmStream> opened =
        PcmStream::Open(PcmOf(mode), ConversionsOf(mode), stream,
                        exclusive ? frames : std::max<std::uint32_t>(frames / periods, 1), periods,
                        options_.report, &error);
    if (!opened) return OpenFailure(error, PcmOf(mode));
    mode_ = mode;
    playing_ =
        std::make_shared<Playing>(std::move(opened), format.blockAlign, format.samplesPerSec);
    return kSOk;
  }

  HResult GetBufferSize(std::uint32_t* frames) override {
    if (!playing_) return kEFail;
    *frames = mode_ == ShareMode::kExclusive ? playing_->stream().periodFrames()
                                             : playing_->stream().bufferFrames();
    return kSOk;
  }
  HResult SetEventHandle(Event* event) override {
    if (!playing_) return kEFail;
    playing_->SetEvent(event);
    return kSOk;
  }
  HResult GetService(std::unique_ptr<endpoint::RenderClient>* client) override {
    if (!playing_) return kEFail;
    *client = std::make_unique<AlsaRenderClient>(playing_);
    return kSOk;
  }
  HResult Start() override {
    if (!playing_) return kEFail;
    if (playing_->Start()) return kSOk;
    kFailures.Note(kErrStart, device_.pcm);
    return kEFail;
  }
  // The event is let go too: render clients that outlive the run no longer signal it.
  HResult Stop() override {
    if (!playing_) return kEFail;
    playing_->Stop();
    playing_->SetEvent(nullptr);
    return kSOk;
  }
  HResult GetCurrentPadding(std::uint32_t* frames) override {
    if (!playing_) return kEFail;
    *frames = playing_->stream().Queued();
    return kSOk;
  }

 private:
  const std::string& PcmOf(ShareMode mode) const {
    return mode == ShareMode::kExclusive ? device_.pcm : device_.sharedPcm;
  }

  AlsaDevice device_;
  AlsaOptions options_;
  ShareMode mode_ = ShareMode::kExclusive;
  std::shared_ptr<Playing> playing_;
};

class AlsaEndpoint final : public endpoint::Endpoint {
 public:
  AlsaEndpoint(AlsaDevice device, AlsaOptions options)
      : device_(std::move(device)), options_(std::move(options)) {}
  HResult GetFriendlyName(std::u16string* name) override {
    *name = device_.friendly;
    return kSOk;
  }
  HResult Activate(std::unique_ptr<endpoint::AudioClient>* client) override {
    *client = std::make_unique<AlsaAudioClient>(device_, options_);
    return kSOk;
  }

 private:
  AlsaDevice device_;
  AlsaOptions options_;
};

class AlsaCollection final : public endpoint::EndpointCollection {
 public:
  AlsaCollection(std::vector<AlsaDevice> devices, AlsaOptions options)
      : devices_(std::move(devices)), options_(std::move(options)) {}
  HResult GetCount(std::uint32_t* count) override {
    *count = static_cast<std::uint32_t>(devices_.size());
    return kSOk;
  }
  HResult Item(std::uint32_t index, std::unique_ptr<endpoint::Endpoint>* endpoint) override {
    if (index >= devices_.size()) return kEFail;
    *endpoint = std::make_unique<AlsaEndpoint>(devices_[index], options_);
    return kSOk;
  }

 private:
  std::vector<AlsaDevice> devices_;
  AlsaOptions options_;
};

class AlsaEnumerator final : public endpoint::Enumerator {
 public:
  explicit AlsaEnumerator(AlsaOptions options) : options_(std::move(options)) {}
  HResult EnumAudioEndpoints(std::unique_ptr<endpoint::EndpointCollection>* endpoints) override {
    *endpoints = std::make_unique<AlsaCollection>(ListDevices(), options_);
    return kSOk;
  }

 private:
  AlsaOptions options_;
};

}  // namespace

AlsaEndpointSystem::AlsaEndpointSystem(AlsaOptions options) : options_(std::move(options)) {}

HResult AlsaEndpointSystem::CreateEnumerator(std::unique_ptr<endpoint::Enumerator>* enumerator) {
  *enumerator = std::make_unique<AlsaEnumerator>(options_);
  return kSOk;
}

}  // namespace lumaro::platform::alsa
