#include "platform/alsa/alsa_drivers.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/device_formats.h"

namespace lumaro::platform::alsa {

using driver::AsioError;
using driver::kAseInvalidMode;
using driver::kAseInvalidParameter;
using driver::kAseNoClock;
using driver::kAseNotPresent;
using driver::kAseOk;
using driver::SampleType;

namespace {

constexpr std::u16string_view kDescriptionValue = u"description";
constexpr std::u16string_view kClsidValue = u"CLSID";
constexpr std::int32_t kChannels = 2;
constexpr std::int32_t kVersion = 2;
constexpr std::uint32_t kBitsPerByte = 8;
constexpr std::uint32_t kRingHalves = 2;
// How long the driver's thread waits at a time before it looks at its stop flag again.
constexpr int kSliceMs = 100;

struct PcmType {
  int (*format)();
  SampleType type;
};
// The PCM formats a driver plays, preferred first.
constexpr PcmType kPcmTypes[] = {
    {FormatS32Le, SampleType::kInt32LSB},   {FormatS32Be, SampleType::kInt32MSB},
    {FormatS24_3Le, SampleType::kInt24LSB}, {FormatS24_3Be, SampleType::kInt24MSB},
    {FormatS16Le, SampleType::kInt16LSB},   {FormatS16Be, SampleType::kInt16MSB}};
// The 1-bit formats, eight, sixteen or thirty-two bits of a channel per frame.
constexpr int (*kDsdFormats[])() = {FormatDsdU8, FormatDsdU16Be, FormatDsdU32Be};

// The format that plays `rate` (bit rate in 1-bit form) on the queried device, and its frame
// rate; nullopt when none does.
struct Chosen {
  int format = 0;
  SampleType type = SampleType::kInt32LSB;
  std::uint32_t frameRate = 0;
};
std::optional<Chosen> Choose(DeviceQuery& query, bool dsd, double rate) {
  if (rate <= 0 || rate != static_cast<double>(static_cast<std::uint32_t>(rate))) return {};
  const auto whole = static_cast<std::uint32_t>(rate);
  if (dsd) {
    for (int (*format)() : kDsdFormats) {
      const std::uint32_t bits = SampleBytes(format()) * kBitsPerByte;
      if (whole % bits == 0 && query.Takes(format(), whole / bits))
        return Chosen{format(), SampleType::kDSDInt8MSB1, whole / bits};
    }
    return {};
  }
  for (const PcmType& t : kPcmTypes) {
    if (query.Takes(t.format(), whole)) return Chosen{t.format(), t.type, whole};
  }
  return {};
}

// Whether the queried device takes any format of the family at any rate.
bool TakesAnyDsd(DeviceQuery& query) {
  return std::any_of(std::begin(kDsdFormats), std::end(kDsdFormats),
                     [&](int (*format)()) { return query.NearestRate(format(), 1) != 0; });
}
bool TakesAnyPcm(DeviceQuery& query) {
  return std::any_of(std::begin(kPcmTypes), std::end(kPcmTypes),
                     [&](const PcmType& t) { return query.NearestRate(t.format(), 1) != 0; });
}

// The devices that are drivers: those taking native DSD and PCM.
std::vector<AlsaDevice> DriverDevices() {
  std::vector<AlsaDevice> drivers;
  for (AlsaDevice& device : ListDevices()) {
    // A held device cannot be asked: it stays a driver, which the driver test then finds not
    // answering.
    DeviceQuery query(device.pcm, Conversions::kNone);
    if (query.error() == OpenError::kBusy ||
        (query.error() == OpenError::kNone && TakesAnyDsd(query) && TakesAnyPcm(query)))
      drivers.push_back(std::move(device));
  }
  return drivers;
}

class AlsaSubkey final : public driver::Subkey {
 public:
  explicit AlsaSubkey(AlsaDevice device) : device_(std::move(device)) {}
  bool QueryValue(std::u16string_view name, std::u16string* value) override {
    if (name == kDescriptionValue) {
      *value = device_.friendly;
    } else if (name == kClsidValue) {
      *value = driver::ClassIdToString(ClassIdOfDevice(device_.pcm));
    } else {
      return false;
    }
    return true;
  }

 private:
  AlsaDevice device_;
};

class AlsaDriverKey final : public driver::DriverKey {
 public:
  explicit AlsaDriverKey(std::vector<AlsaDevice> devices) : devices_(std::move(devices)) {}
  bool EnumKey(std::uint32_t index, std::u16string* name) override {
    if (index >= devices_.size()) return false;
    *name = devices_[index].friendly;
    return true;
  }
  std::unique_ptr<driver::Subkey> OpenKey(std::u16string_view name) override {
    for (const AlsaDevice& d : devices_) {
      if (d.friendly == name) return std::make_unique<AlsaSubkey>(d);
    }
    return nullptr;
  }

 private:
  std::vector<AlsaDevice> devices_;
};

class AlsaDriver final : public driver::Driver {
 public:
  AlsaDriver(AlsaDevice device, AlsaOptions options)
      : device_(std::move(device)), options_(std::move(options)) {}
  ~AlsaDriver() override {
    (void)stop();
    (void)disposeBuffers();
  }

  // Answers whether the device can be opened now; it is held only from createBuffers on.
  std::int32_t init(void*) override {
    DeviceQuery query(device_.pcm, Conversions::kNone);
    initialised_ = query.error() == OpenError::kNone;
    return initialised_ ? driver::kInitSucceeded : 0;
  }
  std::int32_t getDriverVersion() override { return kVersion; }
  AsioError future(std::int32_t selector, void* params) override {
    if (selector != driver::kAsioSetIoFormat) return kAseNotPresent;
    if (params == nullptr) return kAseInvalidParameter;
    if (!initialised_ || stream_) return kAseInvalidMode;
    const std::int32_t type = static_cast<const driver::IoFormat*>(params)->formatType;
    if (type != driver::kASIOPCMFormat && type != driver::kASIODSDFormat)
      return kAseInvalidParameter;
    const bool dsd = type == driver::kASIODSDFormat;
    DeviceQuery query(device_.pcm, Conversions::kNone);
    if (!(dsd ? TakesAnyDsd(query) : TakesAnyPcm(query))) return kAseNotPresent;
    dsd_ = dsd;
    chosen_.reset();
    return driver::kAseSuccess;
  }
  AsioError canSampleRate(double rate) override {
    if (!initialised_) return kAseInvalidMode;
    DeviceQuery query(device_.pcm, Conversions::kNone);
    return Choose(query, dsd_, rate) ? kAseOk : kAseNoClock;
  }
  AsioError setSampleRate(double rate) override {
    if (!initialised_ || stream_) return kAseInvalidMode;
    DeviceQuery query(device_.pcm, Conversions::kNone);
    std::optional<Chosen> chosen = Choose(query, dsd_, rate);
    if (!chosen) return kAseNoClock;
    chosen_ = chosen;
    return kAseOk;
  }
  // Sizes in samples of a channel: the device's period limits, in bits for 1-bit data.
  AsioError getBufferSize(std::int32_t* minSize, std::int32_t* maxSize, std::int32_t* preferredSize,
                          std::int32_t* granularity) override {
    if (!chosen_) return kAseInvalidMode;
    DeviceQuery query(device_.pcm, Conversions::kNone);
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    if (!query.PeriodRange(chosen_->format, chosen_->frameRate, &low, &high))
      return driver::kAseHwMalfunction;
    const std::int64_t unit = SamplesPerFrame();
    const auto limit = [&](std::uint32_t frames) {
      return static_cast<std::int32_t>(std::min<std::int64_t>(frames * unit, INT32_MAX / 2));
    };
    *minSize = limit(low);
    *maxSize = limit(high);
    *preferredSize = std::clamp(limit(chosen_->frameRate / 5), *minSize, *maxSize);
    *granularity = static_cast<std::int32_t>(unit);
    return kAseOk;
  }
  AsioError createBuffers(driver::BufferInfo* infos, std::int32_t channels, std::int32_t bufferSize,
                          const driver::Callbacks* callbacks) override {
    if (!chosen_ || stream_) return kAseInvalidMode;
    if (const AsioError answer = driver::CheckStereoBuffers(infos, channels, callbacks);
        answer != kAseOk)
      return answer;
    if (bufferSize <= 0 || bufferSize % SamplesPerFrame() != 0) return kAseInvalidParameter;
    const std::uint32_t sampleBytes = SampleBytes(chosen_->format);
    const auto frames = static_cast<std::uint32_t>(bufferSize / SamplesPerFrame());
    OpenError error = OpenError::kNone;
    stream_ = PcmStream::Open(device_.pcm, Conversions::kNone,
                              {chosen_->format, chosen_->frameRate, sampleBytes * kChannels},
                              frames, kRingHalves, options_.report, &error);
    if (!stream_) return driver::kAseHwMalfunction;
    halfBytes_ = static_cast<std::size_t>(frames) * sampleBytes;
    halfMs_ = std::max<std::uint64_t>(std::uint64_t{frames} * 1000 / chosen_->frameRate, 1);
    halves_.assign(kChannels * 2, std::vector<std::uint8_t>(halfBytes_, 0));
    frames_.resize(halfBytes_ * kChannels);
    for (std::int32_t c = 0; c < channels; ++c) {
      for (std::size_t half = 0; half < 2; ++half) infos[c].buffers[half] = Half(c, half);
    }
    callbacks_ = *callbacks;
    return kAseOk;
  }
  AsioError getChannelInfo(driver::ChannelInfo* info) override {
    if (!initialised_) return kAseInvalidMode;
    return driver::DescribeStereoChannel(
        info, stream_ != nullptr,
        chosen_ ? chosen_->type : (dsd_ ? SampleType::kDSDInt8MSB1 : SampleType::kInt32LSB));
  }
  AsioError start() override {
    if (!stream_ || thread_.joinable()) return kAseInvalidMode;
    stopping_ = false;
    readies_ = 0;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::exception&) {
      return driver::kAseHwMalfunction;
    }
    return kAseOk;
  }
  AsioError outputReady() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++readies_;
    }
    ready_.notify_all();
    return kAseOk;
  }
  AsioError stop() override {
    if (!thread_.joinable()) return stream_ ? kAseOk : kAseInvalidMode;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    stream_->Wake();
    thread_.join();
    stream_->Drop();
    stream_->Rest();
    return kAseOk;
  }
  AsioError disposeBuffers() override {
    if (!stream_ || thread_.joinable()) return kAseInvalidMode;
    stream_.reset();
    halves_.clear();
    return kAseOk;
  }

 private:
  std::int32_t SamplesPerFrame() const {
    return static_cast<std::int32_t>(dsd_ ? SampleBytes(chosen_->format) * kBitsPerByte : 1);
  }
  std::uint8_t* Half(std::int32_t channel, std::size_t half) {
    return halves_[static_cast<std::size_t>(channel) * 2 + half].data();
  }
  // Hands half `half` of both channels to the device.
  bool Play(std::size_t half) {
    InterleaveChannels(Half(0, half), Half(1, half), halfBytes_, SampleBytes(chosen_->format),
                       frames_.data());
    const auto frames = static_cast<std::uint32_t>(halfBytes_ / SampleBytes(chosen_->format));
    if (stream_->Write(frames_.data(), frames)) return true;
    if (options_.report) options_.report("ALSA: " + device_.pcm + " stopped taking data");
    return false;
  }
  // Waits until the device has room for a half: the older of the two it holds has played.
  // False on a stop.
  bool AwaitRoom() {
    for (;;) {
      if (stopping()) return false;
      if (stream_->WaitForRoom(kSliceMs) == PcmStream::Room::kReady) return true;
    }
  }
  bool stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
  }

  // The driver's thread. Half 0 (still clear) goes to the device first. Then, each time a half
  // starts to sound, the player is called to fill the other; what it filled follows as soon as
  // it says so (or after a half's time without word from it, as the device would run dry), and
  // the next call waits until the half before it has sounded. So the device holds at most the
  // sounding half and the next, and a stop loses nothing that was due to sound before it.
  void Run() {
    std::int32_t index = 0;
    if (!Play(0) || !stream_->Start()) return;
    for (;;) {
      {
        // A word from the player that came after its half was taken belongs to no later one.
        std::lock_guard<std::mutex> lock(mutex_);
        readies_ = 0;
      }
      callbacks_.bufferSwitch(index, false);
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait_for(lock, std::chrono::milliseconds(halfMs_),
                        [this] { return stopping_ || readies_ > 0; });
        if (stopping_) return;
      }
      if (!Play(static_cast<std::size_t>(1 - index)) || !AwaitRoom()) return;
      index = 1 - index;
    }
  }

  AlsaDevice device_;
  AlsaOptions options_;
  bool initialised_ = false;
  bool dsd_ = false;
  std::optional<Chosen> chosen_;
  std::unique_ptr<PcmStream> stream_;
  std::size_t halfBytes_ = 0;
  std::uint64_t halfMs_ = 1;
  std::vector<std::vector<std::uint8_t>> halves_;
  std::vector<std::uint8_t> frames_;
  driver::Callbacks callbacks_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool stopping_ = false;
  std::uint64_t readies_ = 0;
};

}  // namespace

driver::ClassId ClassIdOfDevice(const std::string& pcm) {
  // "ALSA" and two 64-bit FNV-1a hashes of the name (the second seeded differently).
  constexpr std::uint64_t kPrime = 1099511628211ULL;
  std::uint64_t a = 14695981039346656037ULL;
  std::uint64_t b = 0x6C756D61726F2121ULL;
  for (unsigned char c : pcm) {
    a = (a ^ c) * kPrime;
    b = (b ^ c) * kPrime;
  }
  driver::ClassId id{'A', 'L', 'S', 'A'};
  for (int i = 0; i < 8; ++i) id[4 + i] = static_cast<std::uint8_t>(a >> (8 * i));
  for (int i = 0; i < 4; ++i) id[12 + i] = static_cast<std::uint8_t>(b >> (8 * i));
  return id;
}

AlsaDriverRegistry::AlsaDriverRegistry(AlsaOptions options) : options_(std::move(options)) {}

std::unique_ptr<driver::DriverKey> AlsaDriverRegistry::OpenDriversKey() {
  std::vector<AlsaDevice> devices = DriverDevices();
  if (devices.empty()) return nullptr;
  return std::make_unique<AlsaDriverKey>(std::move(devices));
}

std::unique_ptr<driver::Driver> AlsaDriverRegistry::CreateInstance(const driver::ClassId& id) {
  for (AlsaDevice& device : ListDevices()) {
    if (ClassIdOfDevice(device.pcm) == id)
      return std::make_unique<AlsaDriver>(std::move(device), options_);
  }
  return nullptr;
}

}  // namespace lumaro::platform::alsa
