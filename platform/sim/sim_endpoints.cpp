#include "platform/sim/sim_endpoints.h"

#include <cstdio>

#include "platform/text.h"

namespace lumaro::platform::sim {

using endpoint::HResult;
using endpoint::kEFail;
using endpoint::kSFalse;
using endpoint::kSOk;
using endpoint::SubFormat;

namespace {

constexpr std::int64_t kHundredNanosecondsPerSecond = 10'000'000;
constexpr std::size_t kMaxBufferFrames = 1 << 22;

std::string Describe(ShareMode mode, const WaveFormat& f) {
  char text[96];
  std::snprintf(text, sizeof text, "%s %s %u %u/%u",
                mode == ShareMode::kShared ? "shared" : "exclusive",
                f.subFormat == SubFormat::kPcm ? "pcm" : "float", f.samplesPerSec,
                f.validBitsPerSample, f.bitsPerSample);
  return text;
}

// Like a capable device: exclusive PCM 32/32, 24/32, 24/24 or 16/16 at 32 kHz … 768 kHz, and
// shared float at 8 kHz … 384 kHz.
bool DefaultAccepts(ShareMode mode, const WaveFormat& f) {
  if (mode == ShareMode::kShared) {
    return f.subFormat == SubFormat::kIeeeFloat && f.samplesPerSec >= 8000 &&
           f.samplesPerSec <= 384000;
  }
  const bool candidate = (f.validBitsPerSample == 32 && f.bitsPerSample == 32) ||
                         (f.validBitsPerSample == 24 && f.bitsPerSample == 32) ||
                         (f.validBitsPerSample == 24 && f.bitsPerSample == 24) ||
                         (f.validBitsPerSample == 16 && f.bitsPerSample == 16);
  return f.subFormat == SubFormat::kPcm && candidate && f.samplesPerSec >= 32000 &&
         f.samplesPerSec <= 768000 && f.samplesPerSec % 100 == 0;
}

}  // namespace

struct SimEndpointSystem::State {
  mutable std::mutex mutex;
  SimSystemScript script;
  std::vector<std::string> calls;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> releases;
  int liveClients = 0;
  std::set<const SimEndpointScript*> alignmentTold;  // endpoints that answered "not aligned"

  void Record(std::string call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(std::move(call));
  }
  // Records the call and answers kEFail when the endpoint is scripted to fail it by now.
  HResult Call(const SimEndpointScript& e, const std::string& name, std::string detail = {}) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(detail.empty() ? name : name + " " + detail);
    const bool due = releases.size() >= e.failingAfterReleases;
    return due && e.failing.count(name) != 0 ? kEFail : kSOk;
  }
};

namespace {

using State = SimEndpointSystem::State;

class SimRenderClient final : public endpoint::RenderClient {
 public:
  SimRenderClient(std::shared_ptr<State> state, const SimEndpointScript& e,
                  std::uint16_t blockAlign, std::function<void()> played)
      : state_(std::move(state)), e_(e), blockAlign_(blockAlign), played_(std::move(played)) {}
  HResult GetBuffer(std::uint32_t frames, std::uint8_t** data) override {
    if (const HResult r = state_->Call(e_, "GetBuffer", std::to_string(frames)); r != kSOk) {
      return r;
    }
    if (frames > kMaxBufferFrames) return kEFail;
    buffer_.assign(static_cast<std::size_t>(frames) * blockAlign_, 0xEE);
    *data = buffer_.data();
    return kSOk;
  }
  HResult ReleaseBuffer(std::uint32_t frames) override {
    if (const HResult r = state_->Call(e_, "ReleaseBuffer", std::to_string(frames)); r != kSOk) {
      return r;
    }
    buffer_.resize(std::min(buffer_.size(), static_cast<std::size_t>(frames) * blockAlign_));
    std::uint64_t release = 0;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->bytes.insert(state_->bytes.end(), buffer_.begin(), buffer_.end());
      state_->releases.push_back(frames);
      release = state_->releases.size();
    }
    if (e_.onRelease) e_.onRelease(release, buffer_);
    played_();
    return kSOk;
  }

 private:
  std::shared_ptr<State> state_;
  const SimEndpointScript& e_;
  std::uint16_t blockAlign_;
  std::function<void()> played_;
  std::vector<std::uint8_t> buffer_;
};

// The client's event and how often it was signalled, shared with its render clients so that
// either may be released first.
struct Pulse {
  Event* event = nullptr;
  std::uint64_t signals = 0;
  std::uint64_t limit = 0;
  void Signal() {
    if (event != nullptr && signals < limit) {
      ++signals;
      event->Set();
    }
  }
};

class SimAudioClient final : public endpoint::AudioClient {
 public:
  SimAudioClient(std::shared_ptr<State> state, const SimEndpointScript& e)
      : state_(std::move(state)), e_(e) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->liveClients;
  }
  ~SimAudioClient() override {
    pulse_->event = nullptr;
    std::lock_guard<std::mutex> lock(state_->mutex);
    --state_->liveClients;
  }

  HResult IsFormatSupported(ShareMode mode, const WaveFormat& format,
                            std::optional<WaveFormat>* closest) override {
    closest->reset();
    if (const HResult r = state_->Call(e_, "IsFormatSupported", Describe(mode, format));
        r != kSOk) {
      return r;
    }
    const bool taken = e_.accepts ? e_.accepts(mode, format) : DefaultAccepts(mode, format);
    if (taken) return kSOk;
    if (mode == ShareMode::kShared && e_.sharedClosest) {
      *closest = e_.sharedClosest;
      return kSFalse;
    }
    return endpoint::kUnsupportedFormat;
  }

  HResult Initialize(ShareMode mode, std::uint32_t flags, std::int64_t duration,
                     std::int64_t periodicity, const WaveFormat& format) override {
    char detail[64];
    std::snprintf(detail, sizeof detail, " flags=0x%x %lld %lld", flags,
                  static_cast<long long>(duration), static_cast<long long>(periodicity));
    if (const HResult r = state_->Call(e_, "Initialize", Describe(mode, format) + detail);
        r != kSOk) {
      return r;
    }
    if (mode == ShareMode::kExclusive && e_.alignedFrames &&
        state_->alignmentTold.insert(&e_).second) {
      bufferFrames_ = *e_.alignedFrames;
      return endpoint::kBufferSizeNotAligned;
    }
    format_ = format;
    bufferFrames_ =
        static_cast<std::uint32_t>(duration * format.samplesPerSec / kHundredNanosecondsPerSecond);
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->bytes.clear();
    state_->releases.clear();
    return kSOk;
  }

  HResult GetBufferSize(std::uint32_t* frames) override {
    if (const HResult r = state_->Call(e_, "GetBufferSize"); r != kSOk) return r;
    *frames = bufferFrames_;
    return kSOk;
  }
  HResult SetEventHandle(Event* event) override {
    if (const HResult r = state_->Call(e_, "SetEventHandle"); r != kSOk) return r;
    pulse_->event = event;
    return kSOk;
  }
  HResult GetService(std::unique_ptr<endpoint::RenderClient>* client) override {
    if (const HResult r = state_->Call(e_, "GetService"); r != kSOk) return r;
    *client = std::make_unique<SimRenderClient>(state_, e_, format_.blockAlign,
                                                [pulse = pulse_] { pulse->Signal(); });
    return kSOk;
  }
  HResult Start() override {
    if (const HResult r = state_->Call(e_, "Start"); r != kSOk) return r;
    pulse_->Signal();
    return kSOk;
  }
  // The event is let go on Stop and on release: render clients that outlive the run no longer
  // signal it.
  HResult Stop() override {
    pulse_->event = nullptr;
    return state_->Call(e_, "Stop");
  }
  HResult GetCurrentPadding(std::uint32_t* frames) override {
    if (const HResult r = state_->Call(e_, "GetCurrentPadding"); r != kSOk) return r;
    *frames = e_.padding;
    return kSOk;
  }

 private:
  std::shared_ptr<State> state_;
  const SimEndpointScript& e_;
  WaveFormat format_;
  std::uint32_t bufferFrames_ = 0;
  std::shared_ptr<Pulse> pulse_ = std::make_shared<Pulse>(Pulse{.limit = e_.signalLimit});
};

class SimEndpoint final : public endpoint::Endpoint {
 public:
  SimEndpoint(std::shared_ptr<State> state, const SimEndpointScript& e)
      : state_(std::move(state)), e_(e) {}
  HResult GetFriendlyName(std::u16string* name) override {
    if (const HResult r = state_->Call(e_, "GetFriendlyName"); r != kSOk) return r;
    *name = e_.name;
    return kSOk;
  }
  HResult Activate(std::unique_ptr<endpoint::AudioClient>* client) override {
    if (const HResult r = state_->Call(e_, "Activate", Utf16ToUtf8(e_.name)); r != kSOk) {
      return r;
    }
    *client = std::make_unique<SimAudioClient>(state_, e_);
    return kSOk;
  }

 private:
  std::shared_ptr<State> state_;
  const SimEndpointScript& e_;
};

class SimCollection final : public endpoint::EndpointCollection {
 public:
  explicit SimCollection(std::shared_ptr<State> state) : state_(std::move(state)) {}
  HResult GetCount(std::uint32_t* count) override {
    state_->Record("GetCount");
    if (state_->script.failCount) return kEFail;
    *count = static_cast<std::uint32_t>(state_->script.endpoints.size());
    return kSOk;
  }
  HResult Item(std::uint32_t index, std::unique_ptr<endpoint::Endpoint>* endpoint) override {
    state_->Record("Item " + std::to_string(index));
    if (index >= state_->script.endpoints.size()) return kEFail;
    *endpoint = std::make_unique<SimEndpoint>(state_, state_->script.endpoints[index]);
    return kSOk;
  }

 private:
  std::shared_ptr<State> state_;
};

class SimEnumerator final : public endpoint::Enumerator {
 public:
  explicit SimEnumerator(std::shared_ptr<State> state) : state_(std::move(state)) {}
  HResult EnumAudioEndpoints(std::unique_ptr<endpoint::EndpointCollection>* endpoints) override {
    state_->Record("EnumAudioEndpoints");
    if (state_->script.failEnumerate) return kEFail;
    *endpoints = std::make_unique<SimCollection>(state_);
    return kSOk;
  }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace

SimEndpointSystem::SimEndpointSystem(SimSystemScript script) : state_(std::make_shared<State>()) {
  state_->script = std::move(script);
}

SimEndpointSystem::~SimEndpointSystem() = default;

HResult SimEndpointSystem::CreateEnumerator(std::unique_ptr<endpoint::Enumerator>* enumerator) {
  state_->Record("CreateEnumerator");
  if (state_->script.failCreate) return kEFail;
  *enumerator = std::make_unique<SimEnumerator>(state_);
  return kSOk;
}

std::vector<std::string> SimEndpointSystem::Calls() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->calls;
}

std::vector<std::uint8_t> SimEndpointSystem::Bytes() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->bytes;
}

std::vector<std::uint32_t> SimEndpointSystem::Releases() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->releases;
}

int SimEndpointSystem::LiveClients() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->liveClients;
}

}  // namespace lumaro::platform::sim
