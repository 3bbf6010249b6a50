#include "platform/sim/sim_drivers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <mutex>

#include "platform/device_formats.h"
#include "platform/text.h"

namespace lumaro::platform::sim {

using driver::AsioError;
using driver::kAseHwMalfunction;
using driver::kAseInvalidMode;
using driver::kAseInvalidParameter;
using driver::kAseNoClock;
using driver::kAseOk;

namespace {

constexpr std::uint32_t kDsdBaseRate = 44100;
constexpr std::uint32_t kDsdMultiples[] = {64, 128, 256, 512};
constexpr int kBitsPerByte = 8;
constexpr std::int32_t kChannels = 2;
constexpr std::int32_t kInitFailed = 0;

std::vector<std::uint32_t> DefaultPcmRates() {
  return {std::begin(kRateLadder), std::end(kRateLadder)};
}

std::vector<std::uint32_t> DefaultDsdRates() {
  std::vector<std::uint32_t> rates;
  for (std::uint32_t multiple : kDsdMultiples) rates.push_back(multiple * kDsdBaseRate);
  return rates;
}

// Bytes a half of one channel takes for `bufferSize` samples of `type`.
std::size_t HalfBytes(SampleType type, std::int32_t bufferSize) {
  const auto size = static_cast<std::size_t>(bufferSize);
  switch (type) {
    case SampleType::kInt16MSB:
    case SampleType::kInt16LSB:
      return size * 2;
    case SampleType::kInt24MSB:
    case SampleType::kInt24LSB:
      return size * 3;
    case SampleType::kFloat64MSB:
    case SampleType::kFloat64LSB:
      return size * 8;
    case SampleType::kDSDInt8LSB1:
    case SampleType::kDSDInt8MSB1:
      return size / kBitsPerByte;
    default:
      return size * 4;
  }
}

}  // namespace

struct SimDriverRegistry::State {
  mutable std::mutex mutex;
  std::condition_variable hangsEnded;
  bool endHangs = false;
  SimRegistryScript script;
  std::vector<std::string> calls;
  int liveDrivers = 0;
  std::vector<std::uint8_t> played[2];

  void Record(const SimDriverScript& d, std::string call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(Utf16ToUtf8(d.description) + ": " + std::move(call));
  }

  // Records the call; true when the script makes it fail.
  bool Fails(const SimDriverScript& d, const std::string& name, std::string detail = {}) {
    Record(d, detail.empty() ? name : name + " " + detail);
    return d.failing.count(name) != 0;
  }

  // Blocks for `milliseconds` or until the hangs are ended.
  void Hang(std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex);
    hangsEnded.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return endHangs; });
  }
};

namespace {

using State = SimDriverRegistry::State;

class SimSubkey final : public driver::Subkey {
 public:
  SimSubkey(std::shared_ptr<State> state, const SimDriverScript& d, std::u16string clsid)
      : state_(std::move(state)), d_(d), clsid_(std::move(clsid)) {}
  bool QueryValue(std::u16string_view name, std::u16string* value) override {
    if (name == u"description") {
      *value = d_.description;
    } else if (name == u"CLSID") {
      *value = clsid_;
    } else {
      return false;
    }
    return true;
  }

 private:
  std::shared_ptr<State> state_;  // keeps `d_`
  const SimDriverScript& d_;
  std::u16string clsid_;
};

// The class id text of the driver at `index` when its script names none.
std::u16string MadeClassId(std::size_t index) {
  driver::ClassId id{};
  id.back() = static_cast<std::uint8_t>(index + 1);
  id.front() = static_cast<std::uint8_t>((index + 1) >> kBitsPerByte);
  return driver::ClassIdToString(id);
}

std::u16string ClassIdOf(const SimRegistryScript& script, std::size_t index) {
  const SimDriverScript& d = script.drivers[index];
  return d.clsidText.empty() ? MadeClassId(index) : d.clsidText;
}

class SimDriverKey final : public driver::DriverKey {
 public:
  explicit SimDriverKey(std::shared_ptr<State> state) : state_(std::move(state)) {}
  bool EnumKey(std::uint32_t index, std::u16string* name) override {
    const auto& drivers = state_->script.drivers;
    if (index >= drivers.size()) return false;
    const SimDriverScript& d = drivers[index];
    *name = d.subkeyName.empty() ? d.description : d.subkeyName;
    return true;
  }
  std::unique_ptr<driver::Subkey> OpenKey(std::u16string_view name) override {
    const auto& drivers = state_->script.drivers;
    for (std::size_t i = 0; i < drivers.size(); ++i) {
      const SimDriverScript& d = drivers[i];
      if ((d.subkeyName.empty() ? d.description : d.subkeyName) == name)
        return std::make_unique<SimSubkey>(state_, d, ClassIdOf(state_->script, i));
    }
    return nullptr;
  }

 private:
  std::shared_ptr<State> state_;
};

class SimDriver final : public driver::Driver {
 public:
  SimDriver(std::shared_ptr<State> state, const SimDriverScript& d)
      : state_(std::move(state)), d_(d) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->liveDrivers;
  }
  ~SimDriver() override {
    state_->Record(d_, "release");
    std::lock_guard<std::mutex> lock(state_->mutex);
    --state_->liveDrivers;
  }

  std::int32_t init(void*) override {
    if (d_.initBlockMs > 0) state_->Hang(d_.initBlockMs);
    if (state_->Fails(d_, "init")) return kInitFailed;
    initialised_ = d_.initAnswer == driver::kInitSucceeded;
    return d_.initAnswer;
  }
  std::int32_t getDriverVersion() override {
    state_->Record(d_, "getDriverVersion");
    return d_.version;
  }
  AsioError future(std::int32_t selector, void* params) override {
    if (selector != driver::kAsioSetIoFormat || params == nullptr) {
      state_->Record(d_, "future " + std::to_string(selector));
      return kAseInvalidParameter;
    }
    const auto* format = static_cast<const driver::IoFormat*>(params);
    const bool dsd = format->formatType == driver::kASIODSDFormat;
    if (state_->Fails(d_, "future", dsd ? "dsd" : "pcm")) return kAseHwMalfunction;
    if (!initialised_ || (dsd ? !d_.takesDsd : !d_.takesPcm)) return kAseInvalidMode;
    dsd_ = dsd;
    return driver::kAseSuccess;
  }
  AsioError canSampleRate(double rate) override {
    if (state_->Fails(d_, "canSampleRate", Rate(rate))) return kAseHwMalfunction;
    return initialised_ && Takes(rate) ? kAseOk : kAseNoClock;
  }
  AsioError setSampleRate(double rate) override {
    if (state_->Fails(d_, "setSampleRate", Rate(rate))) return kAseHwMalfunction;
    if (!initialised_ || !Takes(rate)) return kAseNoClock;
    return kAseOk;
  }
  AsioError getBufferSize(std::int32_t* minSize, std::int32_t* maxSize, std::int32_t* preferredSize,
                          std::int32_t* granularity) override {
    if (state_->Fails(d_, "getBufferSize")) return kAseHwMalfunction;
    if (!initialised_) return kAseInvalidMode;
    *minSize = d_.minBufferSize;
    *maxSize = d_.maxBufferSize;
    *preferredSize = d_.maxBufferSize;
    *granularity = 1;
    return kAseOk;
  }
  AsioError createBuffers(driver::BufferInfo* infos, std::int32_t channels, std::int32_t bufferSize,
                          const driver::Callbacks* callbacks) override {
    if (state_->Fails(d_, "createBuffers",
                      std::to_string(channels) + " " + std::to_string(bufferSize)))
      return kAseHwMalfunction;
    if (!initialised_ || !halves_.empty()) return kAseInvalidMode;
    if (channels < 1 || channels > kChannels || callbacks == nullptr ||
        bufferSize < d_.minBufferSize || bufferSize > d_.maxBufferSize)
      return kAseInvalidParameter;
    const std::size_t bytes = HalfBytes(Type(), bufferSize);
    callbacks_ = *callbacks;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      for (auto& channel : state_->played) channel.clear();
    }
    halves_.resize(static_cast<std::size_t>(channels) * 2);
    for (std::int32_t c = 0; c < channels; ++c) {
      for (std::size_t half = 0; half < 2; ++half) {
        std::vector<std::uint8_t>& buffer = halves_[static_cast<std::size_t>(c) * 2 + half];
        buffer.assign(bytes, 0);
        infos[c].buffers[half] = buffer.data();
      }
    }
    return kAseOk;
  }
  AsioError getChannelInfo(driver::ChannelInfo* info) override {
    if (state_->Fails(d_, "getChannelInfo", std::to_string(info->channel)))
      return kAseHwMalfunction;
    if (!initialised_) return kAseInvalidMode;
    info->type = Type();
    info->isActive = !halves_.empty();
    return kAseOk;
  }
  AsioError start() override {
    const AsioError answer = Simple("start");
    if (answer != kAseOk) return answer;
    running_ = true;
    playing_ = 0;
    switches_ = 0;
    Switch();
    return kAseOk;
  }
  // The half the player was given is kept, then the driver moves on to it.
  AsioError outputReady() override {
    const AsioError answer = Simple("outputReady");
    if (answer != kAseOk || !running_) return answer;
    const std::size_t filled = playing_ ^ 1U;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      for (std::size_t c = 0; c * 2 < halves_.size() && c < 2; ++c) {
        const std::vector<std::uint8_t>& half = halves_[c * 2 + filled];
        state_->played[c].insert(state_->played[c].end(), half.begin(), half.end());
      }
    }
    playing_ = filled;
    Switch();
    return kAseOk;
  }
  AsioError stop() override {
    running_ = false;
    return Simple("stop");
  }
  AsioError disposeBuffers() override {
    if (state_->Fails(d_, "disposeBuffers")) return kAseHwMalfunction;
    if (halves_.empty()) return kAseInvalidMode;
    halves_.clear();
    return kAseOk;
  }

 private:
  static std::string Rate(double rate) { return std::to_string(static_cast<long long>(rate)); }
  SampleType Type() const { return dsd_ ? d_.dsdType : d_.pcmType; }
  bool Takes(double rate) const {
    std::vector<std::uint32_t> rates = dsd_ ? d_.dsdRates : d_.pcmRates;
    if (rates.empty()) rates = dsd_ ? DefaultDsdRates() : DefaultPcmRates();
    return std::any_of(rates.begin(), rates.end(), [&](std::uint32_t r) { return r == rate; });
  }
  AsioError Simple(const std::string& name) {
    if (state_->Fails(d_, name)) return kAseHwMalfunction;
    return halves_.empty() ? kAseInvalidMode : kAseOk;
  }

  // Tells the player that half `playing_` plays now, unless the script has silenced the driver.
  void Switch() {
    if (switches_ >= d_.switchLimit) return;
    ++switches_;
    const auto index = static_cast<std::int32_t>(playing_);
    if (d_.timeInfoOnly) {
      driver::TimeInfo info;
      (void)callbacks_.bufferSwitchTimeInfo(&info, index, false);
    } else {
      callbacks_.bufferSwitch(index, false);
    }
  }

  std::shared_ptr<State> state_;
  const SimDriverScript& d_;
  bool initialised_ = false;
  bool dsd_ = false;
  driver::Callbacks callbacks_;
  bool running_ = false;
  std::size_t playing_ = 0;
  std::uint64_t switches_ = 0;
  std::vector<std::vector<std::uint8_t>> halves_;
};

}  // namespace

SimDriverRegistry::SimDriverRegistry(SimRegistryScript script) : state_(std::make_shared<State>()) {
  state_->script = std::move(script);
}

SimDriverRegistry::~SimDriverRegistry() = default;

std::unique_ptr<driver::DriverKey> SimDriverRegistry::OpenDriversKey() {
  if (state_->script.noKey) return nullptr;
  return std::make_unique<SimDriverKey>(state_);
}

std::unique_ptr<driver::Driver> SimDriverRegistry::CreateInstance(const driver::ClassId& id) {
  const auto& drivers = state_->script.drivers;
  for (std::size_t i = 0; i < drivers.size(); ++i) {
    if (driver::ClassIdFromString(ClassIdOf(state_->script, i)) != id) continue;
    state_->Record(drivers[i], "create");
    if (!drivers[i].creatable) return nullptr;
    return std::make_unique<SimDriver>(state_, drivers[i]);
  }
  return nullptr;
}

std::vector<std::string> SimDriverRegistry::Calls() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->calls;
}

void SimDriverRegistry::EndHangs() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->endHangs = true;
  }
  state_->hangsEnded.notify_all();
}

std::vector<std::uint8_t> SimDriverRegistry::Played(int channel) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->played[channel & 1];
}

int SimDriverRegistry::LiveDrivers() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->liveDrivers;
}

}  // namespace lumaro::platform::sim
