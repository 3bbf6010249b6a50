#include "platform/file_output/file_driver.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>

#include "platform/device_formats.h"
#include "platform/file_output/dsdiff_header.h"
#include "platform/path.h"

namespace lumaro::platform::file_output {

using driver::AsioError;
using driver::kAseInvalidMode;
using driver::kAseInvalidParameter;
using driver::kAseNoClock;
using driver::kAseNotPresent;
using driver::kAseOk;
using driver::SampleType;

namespace {

constexpr std::u16string_view kSubkeyName = u"File output";
constexpr std::u16string_view kDescriptionValue = u"description";
constexpr std::u16string_view kClsidValue = u"CLSID";

constexpr std::uint32_t kDsdBaseRate = 44100;
constexpr std::uint32_t kDsdMultiples[] = {64, 128, 256, 512};
constexpr std::int32_t kChannels = 2;
constexpr std::int32_t kVersion = 2;
constexpr std::uint32_t kPcmBits = 32;
constexpr std::size_t kPcmSampleBytes = kPcmBits / 8;
constexpr std::int32_t kBitsPerByte = 8;
constexpr std::int32_t kMinBufferSize = 64;
constexpr std::int32_t kMaxBufferSize = 1 << 23;
constexpr std::uint64_t kMicrosecondsPerSecond = 1'000'000;

bool TakesPcm(double rate) {
  return std::any_of(std::begin(kRateLadder), std::end(kRateLadder),
                     [&](std::uint32_t r) { return r == rate; });
}

bool TakesDsd(double rate) {
  return std::any_of(std::begin(kDsdMultiples), std::end(kDsdMultiples),
                     [&](std::uint32_t m) { return m * kDsdBaseRate == rate; });
}

// The file of one run, from start to stop: the halves after the lead-in, interleaved.
class Recording {
 public:
  // The header is brought up to date with each second of audio.
  Recording(std::unique_ptr<File> file, std::u16string path, bool dsd, std::uint32_t rate,
            std::uint64_t leadInHalves)
      : dsd_(dsd),
        skip_(leadInHalves),
        file_(std::move(file), std::move(path), HeaderFor(dsd, rate), BytesPerSecond(dsd, rate)) {}
  // Takes one played half of each channel, `bytes` each.
  void Take(const std::uint8_t* left, const std::uint8_t* right, std::size_t bytes) {
    if (skip_ > 0) {
      --skip_;
      return;
    }
    if (!file_.ok()) return;
    interleaved_.resize(bytes * 2);
    InterleaveChannels(left, right, bytes, dsd_ ? 1 : kPcmSampleBytes, interleaved_.data());
    (void)file_.Append(interleaved_.data(), interleaved_.size());
  }

 private:
  // DSDIFF counts bytes per channel; the WAV header all bytes of both channels.
  static HeaderedFile::HeaderFor HeaderFor(bool dsd, std::uint32_t rate) {
    if (dsd) {
      return [rate](std::uint64_t bytes) {
        const auto header = DsdiffHeader(rate, bytes / 2);
        return std::vector<std::uint8_t>(header.begin(), header.end());
      };
    }
    const endpoint::WaveFormat format =
        endpoint::MakeWaveFormat(endpoint::SubFormat::kPcm, rate, kPcmBits, kPcmBits);
    return [format](std::uint64_t bytes) { return WavHeader(format, bytes); };
  }
  static std::uint64_t BytesPerSecond(bool dsd, std::uint32_t rate) {
    return dsd ? std::uint64_t{rate} / kBitsPerByte * 2 : std::uint64_t{rate} * kPcmSampleBytes * 2;
  }

  const bool dsd_;
  std::uint64_t skip_;
  HeaderedFile file_;
  std::vector<std::uint8_t> interleaved_;
};

}  // namespace

std::uint64_t LeadInHalves(std::uint32_t rate, std::int32_t bufferSize, bool dsd) {
  const std::uint64_t total = std::uint64_t{kLeadInSeconds} * rate;
  const auto step = static_cast<std::uint64_t>(bufferSize);
  return platform::LeadInHalves(dsd ? total / kBitsPerByte : total,
                                dsd ? step / kBitsPerByte : step);
}

struct FileDriverRegistry::Shared {
  FileOutputOptions options;
  mutable std::mutex mutex;
  std::vector<std::u16string> written;
  unsigned starts = 0;
};

namespace {

using Shared = FileDriverRegistry::Shared;

class FileSubkey final : public driver::Subkey {
 public:
  bool QueryValue(std::u16string_view name, std::u16string* value) override {
    if (name == kDescriptionValue) {
      *value = kFileOutputName;
    } else if (name == kClsidValue) {
      *value = kFileDriverClassId;
    } else {
      return false;
    }
    return true;
  }
};

class FileDriverKey final : public driver::DriverKey {
 public:
  bool EnumKey(std::uint32_t index, std::u16string* name) override {
    if (index != 0) return false;
    *name = kSubkeyName;
    return true;
  }
  std::unique_ptr<driver::Subkey> OpenKey(std::u16string_view name) override {
    if (name != kSubkeyName) return nullptr;
    return std::make_unique<FileSubkey>();
  }
};

class FileDriver final : public driver::Driver {
 public:
  explicit FileDriver(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  ~FileDriver() override {
    (void)stop();
    (void)disposeBuffers();
  }

  std::int32_t init(void*) override {
    initialised_ = true;
    return driver::kInitSucceeded;
  }
  std::int32_t getDriverVersion() override { return kVersion; }
  AsioError future(std::int32_t selector, void* params) override {
    if (selector != driver::kAsioSetIoFormat) return kAseNotPresent;
    if (params == nullptr) return kAseInvalidParameter;
    if (!initialised_ || !halves_.empty()) return kAseInvalidMode;
    const std::int32_t type = static_cast<const driver::IoFormat*>(params)->formatType;
    if (type != driver::kASIOPCMFormat && type != driver::kASIODSDFormat)
      return kAseInvalidParameter;
    dsd_ = type == driver::kASIODSDFormat;
    rate_ = 0;
    return driver::kAseSuccess;
  }
  AsioError canSampleRate(double rate) override {
    if (!initialised_) return kAseInvalidMode;
    return (dsd_ ? TakesDsd(rate) : TakesPcm(rate)) ? kAseOk : kAseNoClock;
  }
  AsioError setSampleRate(double rate) override {
    if (!halves_.empty()) return kAseInvalidMode;
    if (const AsioError answer = canSampleRate(rate); answer != kAseOk) return answer;
    rate_ = static_cast<std::uint32_t>(rate);
    return kAseOk;
  }
  AsioError getBufferSize(std::int32_t* minSize, std::int32_t* maxSize, std::int32_t* preferredSize,
                          std::int32_t* granularity) override {
    if (!initialised_) return kAseInvalidMode;
    *minSize = kMinBufferSize;
    *maxSize = kMaxBufferSize;
    *preferredSize = rate_ > 0 ? std::clamp<std::int32_t>(static_cast<std::int32_t>(rate_ / 5),
                                                          kMinBufferSize, kMaxBufferSize)
                               : kMinBufferSize;
    *granularity = dsd_ ? kBitsPerByte : 1;
    return kAseOk;
  }
  AsioError createBuffers(driver::BufferInfo* infos, std::int32_t channels, std::int32_t bufferSize,
                          const driver::Callbacks* callbacks) override {
    if (rate_ == 0 || !halves_.empty()) return kAseInvalidMode;
    if (const AsioError answer = driver::CheckStereoBuffers(infos, channels, callbacks);
        answer != kAseOk)
      return answer;
    if (bufferSize < kMinBufferSize || bufferSize > kMaxBufferSize ||
        (dsd_ && bufferSize % kBitsPerByte != 0))
      return kAseInvalidParameter;
    const std::size_t bytes =
        dsd_ ? static_cast<std::size_t>(bufferSize / kBitsPerByte) : bufferSize * kPcmSampleBytes;
    halves_.assign(kChannels * 2, std::vector<std::uint8_t>(bytes, 0));
    for (std::int32_t c = 0; c < channels; ++c) {
      for (std::size_t half = 0; half < 2; ++half) infos[c].buffers[half] = Half(c, half);
    }
    bufferSize_ = bufferSize;
    callbacks_ = *callbacks;
    return kAseOk;
  }
  AsioError getChannelInfo(driver::ChannelInfo* info) override {
    if (!initialised_) return kAseInvalidMode;
    return driver::DescribeStereoChannel(info, !halves_.empty(),
                                         dsd_ ? SampleType::kDSDInt8MSB1 : SampleType::kInt32LSB);
  }
  AsioError start() override {
    if (halves_.empty() || thread_.joinable()) return kAseInvalidMode;
    std::u16string path;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      path = NumberedPath(
          WithExtension(shared_->options.path, dsd_ ? kDsdiffExtension : kWavExtension),
          ++shared_->starts);
      shared_->written.push_back(path);
    }
    std::unique_ptr<File> file = CreateOutputFile(path);
    if (!file) return driver::kAseHwMalfunction;
    recording_ = std::make_unique<Recording>(std::move(file), path, dsd_, rate_,
                                             LeadInHalves(rate_, bufferSize_, dsd_));
    stopping_ = false;
    readies_ = 0;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::exception&) {
      recording_.reset();
      return driver::kAseHwMalfunction;
    }
    return kAseOk;
  }
  AsioError outputReady() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++readies_;
    }
    ready_.notify_one();
    return kAseOk;
  }
  // A half the player made ready after the last switch is recorded too.
  AsioError stop() override {
    if (!thread_.joinable()) return kAseOk;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_one();
    thread_.join();
    if (readies_ > 0) Record(index_ ^ 1);
    recording_.reset();
    return kAseOk;
  }
  AsioError disposeBuffers() override {
    if (halves_.empty() || thread_.joinable()) return kAseInvalidMode;
    halves_.clear();
    return kAseOk;
  }

 private:
  std::uint8_t* Half(std::int32_t channel, std::size_t half) {
    return halves_[static_cast<std::size_t>(channel) * 2 + half].data();
  }
  void Record(std::size_t half) {
    recording_->Take(Half(0, half), Half(1, half), halves_[0].size());
  }

  // The driver's thread: plays half 0 (still clear) at once, then, each period or each time the
  // player is ready, the other half, recording it before the player is told to fill the next.
  void Run() {
    Clock& clock = *shared_->options.clock;
    const bool paced = shared_->options.paced;
    const std::uint64_t period = std::max<std::uint64_t>(
        static_cast<std::uint64_t>(bufferSize_) * kMicrosecondsPerSecond / rate_, 1);
    std::uint64_t deadline = clock.NowMicroseconds();
    index_ = 0;
    callbacks_.bufferSwitch(index_, false);
    for (;;) {
      if (paced) {
        deadline += period;
        clock.SleepUntilMicroseconds(deadline);
      }
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!paced) ready_.wait(lock, [this] { return stopping_ || readies_ > 0; });
        if (stopping_) return;
        index_ ^= 1;
        readies_ = 0;
        Record(index_);
      }
      callbacks_.bufferSwitch(index_, false);
    }
  }

  std::shared_ptr<Shared> shared_;
  bool initialised_ = false;
  bool dsd_ = false;
  std::uint32_t rate_ = 0;
  std::int32_t bufferSize_ = 0;
  driver::Callbacks callbacks_;
  std::vector<std::vector<std::uint8_t>> halves_;
  std::unique_ptr<Recording> recording_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool stopping_ = false;
  std::uint64_t readies_ = 0;  // outputReady calls since the last switch
  std::int32_t index_ = 0;     // the half played now (the driver's thread, then stop)
};

}  // namespace

FileDriverRegistry::FileDriverRegistry(FileOutputOptions options)
    : shared_(std::make_shared<Shared>()) {
  shared_->options = std::move(options);
}

FileDriverRegistry::~FileDriverRegistry() = default;

std::unique_ptr<driver::DriverKey> FileDriverRegistry::OpenDriversKey() {
  return std::make_unique<FileDriverKey>();
}

std::unique_ptr<driver::Driver> FileDriverRegistry::CreateInstance(const driver::ClassId& id) {
  if (driver::ClassIdFromString(kFileDriverClassId) != id) return nullptr;
  return std::make_unique<FileDriver>(shared_);
}

std::vector<std::u16string> FileDriverRegistry::WrittenFiles() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->written;
}

}  // namespace lumaro::platform::file_output
