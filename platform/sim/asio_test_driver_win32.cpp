// The Windows test driver: an in-process component server (lumaro_test_driver.dll) that offers the
// driver File output (file_output/file_driver.h) through the drivers' binary interface, so the
// player's Windows driver host is tested end to end without a sound card: regsvr32 registers it
// as "Lumaro Test Driver", the host creates it by its class id, and what it plays is recorded to
// a WAV (PCM, 32-bit little-endian) or DSDIFF (1-bit) file.
//
// The environment variable LUMARO_TEST_DRIVER, read when a driver object is created, is a
// comma-separated list of switches; unknown words and malformed numbers are ignored:
//
//   out=PATH         the recording's path (default "lumaro-test-driver.wav" in the current
//                    directory); each start after the first of an object adds "-2", "-3" …,
//                    and 1-bit recordings take ".dff". Under Wine a Unix path needs its drive:
//                    "Z:\tmp\x.wav" or "Z:/tmp/x.wav".
//   fast             unpaced: the next switch follows each outputReady at once, so a host that
//                    never calls outputReady gets one switch (default: paced in real time)
//   type=NAME        the sample type getChannelInfo reports in PCM format: a SampleType name
//                    without its "k" (Float32LSB, Int24MSB, …) or the interface's number of a
//                    type (e.g. 25, a 32-bit word holding 18 bits). The data still flows and is
//                    recorded as 32-bit words, its bytes as the host wrote them. For a type
//                    wider than 32 bits (Float64*, numbers the player does not know) the host
//                    fills halves of the driver's own, whose first bytes reach the recording
//                    when the host calls outputReady.
//   min=N, max=N     buffer size limits in samples, combined with the file driver's own
//                    (64 … 8388608): getBufferSize reports the narrower range (a min above the
//                    max stays so, for hosts to refuse), and createBuffers refuses sizes outside
//                    it with kAseInvalidParameter
//   nodsd            future refuses the 1-bit IO format with kAseNotPresent
//   size=N           createBuffers refuses every buffer size but N (a host that chose another
//                    size fails there)
//   hang-init        init never answers
//   hang-init-from=N the Nth init of the process (counting every object's) and the later ones
//                    never answer: a driver that passes the host's listing and hangs after it
//   switches=N       after each start only the first N buffer switches reach the host; then the
//                    driver falls silent while its clock runs on
//   timeinfo-only    the host's bufferSwitchTimeInfo is called instead of bufferSwitch (nothing,
//                    when the host gave none)
//   version=N        getDriverVersion's answer (default the file driver's, 2)
//
// The driver reports 0 inputs, 2 outputs ("Left", "Right") and one internal clock, and starts
// at 44100 Hz (or, after a switch to the 1-bit format, at 2822400 bits a second).
//
// Threads: the object is registered for the single-threaded apartment: the host calls it from
// the thread that created it. From start until stop answers, the file driver's own thread calls
// the host's bufferSwitch (or bufferSwitchTimeInfo) directly. The file driver's callbacks carry
// no context, so the host's callbacks of the object that has buffers live in a process-wide
// slot: one object at a time may have buffers (createBuffers of a second one answers
// kAseInvalidMode). Releasing the last reference stops the driver and disposes of its buffers.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/file_output/file_driver.h"
#include "platform/text.h"
#include "platform/win32/asio_abi.h"
#include "platform/win32/win32_api.h"
// After windows.h:
#include <olectl.h>

namespace lumaro::platform::sim::test_driver {
namespace {

using driver::AsioError;
using driver::kAseInvalidMode;
using driver::kAseInvalidParameter;
using driver::kAseNoMemory;
using driver::kAseNotPresent;
using driver::kAseOk;
using driver::SampleType;
namespace abi = driver::abi;

// {4C554D41-524F-5445-5354-445249564552}: "LUMAROTESTDRIVER" in ASCII.
constexpr GUID kClassId = {
    0x4C554D41, 0x524F, 0x5445, {0x53, 0x54, 0x44, 0x52, 0x49, 0x56, 0x45, 0x52}};
constexpr char kDriverName[] = "Lumaro Test Driver";
constexpr wchar_t kDescription[] = L"Lumaro Test Driver";
constexpr wchar_t kDriverKeyPath[] = L"SOFTWARE\\ASIO\\Lumaro Test Driver";
constexpr wchar_t kClassesKeyPath[] = L"Software\\Classes\\CLSID\\";
constexpr wchar_t kServerSubkey[] = L"\\InprocServer32";
constexpr wchar_t kThreadingModelValue[] = L"ThreadingModel";
constexpr wchar_t kThreadingModel[] = L"Apartment";
constexpr wchar_t kClassIdValue[] = L"CLSID";
constexpr wchar_t kDescriptionValue[] = L"description";
constexpr wchar_t kSwitchesVariable[] = L"LUMARO_TEST_DRIVER";
constexpr char16_t kDefaultOutput[] = u"lumaro-test-driver.wav";

constexpr abi::AsioBool kFalse = 0;
constexpr abi::AsioBool kTrue = 1;
constexpr std::int32_t kInputs = 0;
constexpr std::int32_t kOutputs = 2;
constexpr std::size_t kHalves = 2;
constexpr double kDefaultPcmRate = 44100;
constexpr double kDefaultDsdRate = 64 * 44100;
// What the file driver records per PCM sample, and the widest sample a host may write.
constexpr std::size_t kRecordedSampleBytes = 4;
constexpr std::size_t kWidestSampleBytes = 8;
constexpr std::uint64_t kNanosecondsPerMicrosecond = 1000;
constexpr char16_t kFirstNonAscii = 0x80;
constexpr std::int32_t kInternalClock = 0;
constexpr std::int32_t kNoAssociation = -1;
constexpr char kClockName[] = "Internal";
constexpr GUID kUnknownInterface = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kClassFactoryInterface = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The flags of the timing record: which of its fields hold values.
constexpr std::uint32_t kSystemTimeValid = 1U << 0;
constexpr std::uint32_t kSamplePositionValid = 1U << 1;
constexpr std::uint32_t kSampleRateValid = 1U << 2;
constexpr std::uint32_t kSpeedValid = 1U << 3;

// The error texts getErrorMessage answers.
constexpr char kNoError[] = "No error";
constexpr char kRefused[] = "The request was refused";
constexpr char kSizeRefused[] = "The buffer size is outside the limits";
constexpr char kSlotTaken[] = "Another driver object has buffers";
constexpr char kDsdRefused[] = "The 1-bit format is switched off";
constexpr char kOutOfMemory[] = "Out of memory";

// Driver objects and class factories alive, and LockServer's locks: the DLL may go when all are 0.
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};
// init calls of every driver object of the process so far.
std::atomic<std::uint64_t> initCalls{0};

// What the DLL's objects share: one interface besides IUnknown (its id `kInterfaceId`), a count of
// references that frees the object at 0, and a place among the live objects. The destructor is
// virtual: its slots come after the interface's, which callers see unchanged.
template <class Interface, const GUID& kInterfaceId>
class CountedObject : public Interface {
 public:
  CountedObject() { ++liveObjects; }
  virtual ~CountedObject() { --liveObjects; }
  CountedObject(const CountedObject&) = delete;
  CountedObject& operator=(const CountedObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (id != kUnknownInterface && id != kInterfaceId) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<Interface*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};

constexpr std::pair<std::u16string_view, SampleType> kTypeNames[] = {
    {u"Int16MSB", SampleType::kInt16MSB},       {u"Int24MSB", SampleType::kInt24MSB},
    {u"Int32MSB", SampleType::kInt32MSB},       {u"Float32MSB", SampleType::kFloat32MSB},
    {u"Float64MSB", SampleType::kFloat64MSB},   {u"Int32MSB16", SampleType::kInt32MSB16},
    {u"Int32MSB24", SampleType::kInt32MSB24},   {u"Int16LSB", SampleType::kInt16LSB},
    {u"Int24LSB", SampleType::kInt24LSB},       {u"Int32LSB", SampleType::kInt32LSB},
    {u"Float32LSB", SampleType::kFloat32LSB},   {u"Float64LSB", SampleType::kFloat64LSB},
    {u"Int32LSB16", SampleType::kInt32LSB16},   {u"Int32LSB24", SampleType::kInt32LSB24},
    {u"DSDInt8LSB1", SampleType::kDSDInt8LSB1}, {u"DSDInt8MSB1", SampleType::kDSDInt8MSB1},
};

// What the environment asks of a driver object (see the top of the file).
struct Switches {
  std::u16string out = kDefaultOutput;
  bool fast = false;
  std::optional<std::int32_t> type;  // the interface's number
  std::int32_t minSize = 0;
  std::int32_t maxSize = INT32_MAX;
  std::optional<std::int32_t> size;
  bool noDsd = false;
  std::uint64_t hangInitFrom = 0;  // 0: never
  std::uint64_t switchLimit = UINT64_MAX;
  bool timeInfoOnly = false;
  std::optional<std::int32_t> version;
};

// A whole decimal number (with an optional "-"), or nullopt.
template <class Number>
std::optional<Number> ReadNumber(std::u16string_view text) {
  const std::string ascii = Utf16ToUtf8(text);
  Number value{};
  const char* end = ascii.data() + ascii.size();
  const auto [last, error] = std::from_chars(ascii.data(), end, value);
  if (ascii.empty() || error != std::errc() || last != end) return std::nullopt;
  return value;
}

// A type's name or number as the interface's number.
std::optional<std::int32_t> ReadType(std::u16string_view text) {
  for (const auto& [name, type] : kTypeNames) {
    if (EqualNoCase(name, text)) return abi::SampleTypeToNative(type);
  }
  return ReadNumber<std::int32_t>(text);
}

void ApplySwitch(std::u16string_view word, Switches* switches) {
  constexpr std::u16string_view kBlanks = u" \t";
  word.remove_prefix(std::min(word.find_first_not_of(kBlanks), word.size()));
  word.remove_suffix(word.size() - std::min(word.find_last_not_of(kBlanks) + 1, word.size()));
  const std::size_t equals = word.find(u'=');
  const std::u16string_view key = word.substr(0, equals);
  const std::u16string_view value =
      equals == std::u16string_view::npos ? std::u16string_view() : word.substr(equals + 1);
  if (key == u"out" && !value.empty()) {
    switches->out = value;
  } else if (key == u"fast") {
    switches->fast = true;
  } else if (key == u"type") {
    if (const auto type = ReadType(value)) switches->type = type;
  } else if (key == u"min") {
    switches->minSize = ReadNumber<std::int32_t>(value).value_or(switches->minSize);
  } else if (key == u"max") {
    switches->maxSize = ReadNumber<std::int32_t>(value).value_or(switches->maxSize);
  } else if (key == u"nodsd") {
    switches->noDsd = true;
  } else if (key == u"size") {
    if (const auto size = ReadNumber<std::int32_t>(value)) switches->size = size;
  } else if (key == u"hang-init") {
    switches->hangInitFrom = 1;
  } else if (key == u"hang-init-from") {
    switches->hangInitFrom = ReadNumber<std::uint64_t>(value).value_or(switches->hangInitFrom);
  } else if (key == u"switches") {
    switches->switchLimit = ReadNumber<std::uint64_t>(value).value_or(switches->switchLimit);
  } else if (key == u"timeinfo-only") {
    switches->timeInfoOnly = true;
  } else if (key == u"version") {
    if (const auto version = ReadNumber<std::int32_t>(value)) switches->version = version;
  }
}

Switches ReadSwitches() {
  Switches switches;
  const DWORD size = ::GetEnvironmentVariableW(kSwitchesVariable, nullptr, 0);
  if (size == 0) return switches;
  std::wstring text(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(kSwitchesVariable, text.data(), size);
  if (length == 0 || length >= size) return switches;
  const std::u16string list = FromWide(text.data(), length);
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t comma = std::min(list.find(u',', start), list.size());
    ApplySwitch(std::u16string_view(list).substr(start, comma - start), &switches);
    start = comma + 1;
  }
  return switches;
}

// True when the host writes samples of the interface's type `type` wider than what the file
// driver records, so that it needs halves of its own.
bool WiderThanRecorded(std::int32_t type) {
  switch (abi::SampleTypeFromNative(type)) {
    case SampleType::kFloat64LSB:
    case SampleType::kFloat64MSB:
    case SampleType::kUnknown:
      return true;
    default:
      return false;
  }
}

// Copies `text` into the host's buffer of `size` bytes, cut to fit, non-ASCII characters as "?".
void CopyText(std::u16string_view text, char* buffer, std::size_t size) {
  const std::size_t length = std::min(text.size(), size - 1);
  for (std::size_t i = 0; i < length; ++i) {
    buffer[i] = text[i] < kFirstNonAscii ? static_cast<char>(text[i]) : '?';
  }
  buffer[length] = '\0';
}

void CopyText(const char* text, char* buffer, std::size_t size) {
  const std::size_t length = std::min(std::strlen(text), size - 1);
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

// The host's callbacks of the object that has buffers, and the count of the switches since start
// for switches=N, the sample position and the timing record. Made by createBuffers, dropped by
// disposeBuffers; the driver's thread calls Switch, the host's thread the rest.
class Session {
 public:
  Session(const abi::NativeCallbacks& host, bool timeInfoOnly, std::uint64_t switchLimit,
          double rate, std::int32_t bufferSize)
      : host_(host),
        timeInfoOnly_(timeInfoOnly),
        switchLimit_(switchLimit),
        rate_(rate),
        bufferSize_(static_cast<std::uint64_t>(bufferSize)) {}

  // Counts from zero again; before the driver's thread starts.
  void Restart() {
    std::lock_guard<std::mutex> lock(mutex_);
    played_ = 0;
    forwarded_ = 0;
    positionValid_ = false;
  }

  // The driver's thread: the switch to half `index`, forwarded while the limit lets it. `given`
  // is the driver's timing record, if it made one.
  void Switch(std::int32_t index, bool directProcess, const driver::TimeInfo* given) {
    abi::NativeTime time{};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lastIndex_ = index;
      position_ = played_ * bufferSize_;
      systemNs_ = SystemClock().NowMicroseconds() * kNanosecondsPerMicrosecond;
      positionValid_ = true;
      ++played_;
      if (forwarded_ >= switchLimit_) return;
      ++forwarded_;
      time.timeInfo.speed = 1;
      time.timeInfo.systemTime = abi::SplitSamples(systemNs_);
      time.timeInfo.samplePosition = abi::SplitSamples(position_);
      time.timeInfo.sampleRate = rate_;
      time.timeInfo.flags =
          kSystemTimeValid | kSamplePositionValid | kSampleRateValid | kSpeedValid;
    }
    if (given != nullptr) {
      time.timeInfo.speed = given->speed;
      time.timeInfo.systemTime = abi::SplitSamples(given->systemTimeNs);
      time.timeInfo.samplePosition = abi::SplitSamples(given->samplePosition);
      time.timeInfo.sampleRate = given->sampleRate;
      time.timeInfo.flags = given->flags;
    }
    const abi::AsioBool direct = directProcess ? kTrue : kFalse;
    if (timeInfoOnly_) {
      if (host_.bufferSwitchTimeInfo != nullptr) host_.bufferSwitchTimeInfo(&time, index, direct);
    } else {
      host_.bufferSwitch(index, direct);
    }
  }

  void SampleRateDidChange(double rate) const {
    if (host_.sampleRateDidChange != nullptr) host_.sampleRateDidChange(rate);
  }
  std::int32_t AsioMessage(std::int32_t selector, std::int32_t value, void* message,
                           double* options) const {
    return host_.asioMessage != nullptr ? host_.asioMessage(selector, value, message, options) : 0;
  }

  // The half the host was last given to fill (the other one of the last switch).
  std::size_t FillingHalf() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(lastIndex_ ^ 1);
  }

  // The position and time of the last switch; false before the first.
  bool Position(abi::NativeSamples* position, abi::NativeSamples* timeStamp) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!positionValid_) return false;
    *position = abi::SplitSamples(position_);
    *timeStamp = abi::SplitSamples(systemNs_);
    return true;
  }

 private:
  const abi::NativeCallbacks host_;
  const bool timeInfoOnly_;
  const std::uint64_t switchLimit_;
  const double rate_;
  const std::uint64_t bufferSize_;
  mutable std::mutex mutex_;
  std::uint64_t played_ = 0;     // switches since start
  std::uint64_t forwarded_ = 0;  // of them, those the host was given
  std::int32_t lastIndex_ = 0;
  bool positionValid_ = false;
  std::uint64_t position_ = 0;
  std::uint64_t systemNs_ = 0;
};

// The process-wide slot: the session of the object that has buffers, or nullptr.
std::atomic<Session*> currentSession{nullptr};

void OnBufferSwitch(std::int32_t index, bool directProcess) {
  if (Session* session = currentSession.load(std::memory_order_acquire))
    session->Switch(index, directProcess, nullptr);
}

void OnSampleRateDidChange(double rate) {
  if (Session* session = currentSession.load(std::memory_order_acquire))
    session->SampleRateDidChange(rate);
}

std::int32_t OnAsioMessage(std::int32_t selector, std::int32_t value, void* message,
                           double* options) {
  Session* session = currentSession.load(std::memory_order_acquire);
  return session != nullptr ? session->AsioMessage(selector, value, message, options) : 0;
}

driver::TimeInfo* OnBufferSwitchTimeInfo(driver::TimeInfo* params, std::int32_t index,
                                         bool directProcess) {
  if (Session* session = currentSession.load(std::memory_order_acquire))
    session->Switch(index, directProcess, params);
  return params;
}

const driver::Callbacks kTrampolines = {&OnBufferSwitch, &OnSampleRateDidChange, &OnAsioMessage,
                                        &OnBufferSwitchTimeInfo};

// The driver object: the file driver behind the binary interface, bent by the switches.
class TestDriver final : public CountedObject<abi::IAsio, kClassId> {
 public:
  explicit TestDriver(Switches switches)
      : switches_(std::move(switches)),
        registry_(file_output::FileOutputOptions{switches_.out, !switches_.fast, &SystemClock()}),
        driver_(
            registry_.CreateInstance(*driver::ClassIdFromString(file_output::kFileDriverClassId))) {
  }
  ~TestDriver() override {
    if (running_) (void)stop();
    if (session_) (void)disposeBuffers();
    driver_.reset();
  }

  bool Made() const { return driver_ != nullptr; }

  abi::AsioBool init(void* systemHandle) override {
    const std::uint64_t call = ++initCalls;
    while (switches_.hangInitFrom != 0 && call >= switches_.hangInitFrom) ::Sleep(INFINITE);
    if (driver_->init(systemHandle) != driver::kInitSucceeded) return kFalse;
    if (!initialised_) SetFormatRate(false);
    initialised_ = true;
    return kTrue;
  }
  void getDriverName(char* name) override {
    if (name != nullptr) CopyText(kDriverName, name, sizeof kDriverName);
  }
  std::int32_t getDriverVersion() override {
    return switches_.version.value_or(driver_->getDriverVersion());
  }
  void getErrorMessage(char* text) override {
    if (text != nullptr) CopyText(error_, text, abi::kDriverTextSize);
  }
  std::int32_t start() override {
    if (running_) return Answer(kAseInvalidMode);
    if (session_) session_->Restart();
    const AsioError answer = driver_->start();
    running_ = answer == kAseOk;
    return Answer(answer);
  }
  std::int32_t stop() override {
    const AsioError answer = driver_->stop();
    if (answer == kAseOk) running_ = false;
    return Answer(answer);
  }
  std::int32_t getChannels(std::int32_t* inputs, std::int32_t* outputs) override {
    if (inputs == nullptr || outputs == nullptr) return Answer(kAseInvalidParameter);
    if (!initialised_) return Answer(kAseInvalidMode);
    *inputs = kInputs;
    *outputs = kOutputs;
    return kAseOk;
  }
  std::int32_t getLatencies(std::int32_t* input, std::int32_t* output) override {
    if (input == nullptr || output == nullptr) return Answer(kAseInvalidParameter);
    std::int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    if (const AsioError answer = getBufferSize(&minSize, &maxSize, &preferred, &granularity);
        answer != kAseOk)
      return answer;
    *input = 0;
    *output = bufferSize_ > 0 ? bufferSize_ : preferred;
    return kAseOk;
  }
  // The file driver's limits narrowed by min= and max=; the preferred size within them.
  std::int32_t getBufferSize(std::int32_t* minSize, std::int32_t* maxSize,
                             std::int32_t* preferredSize, std::int32_t* granularity) override {
    if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr ||
        granularity == nullptr)
      return Answer(kAseInvalidParameter);
    if (const AsioError answer =
            driver_->getBufferSize(minSize, maxSize, preferredSize, granularity);
        answer != kAseOk)
      return Answer(answer);
    *minSize = std::max(*minSize, switches_.minSize);
    *maxSize = std::min(*maxSize, switches_.maxSize);
    *preferredSize = std::max(std::min(*preferredSize, *maxSize), *minSize);
    return kAseOk;
  }
  std::int32_t canSampleRate(double rate) override { return Answer(driver_->canSampleRate(rate)); }
  std::int32_t getSampleRate(double* rate) override {
    if (rate == nullptr) return Answer(kAseInvalidParameter);
    if (!initialised_) return Answer(kAseInvalidMode);
    *rate = rate_;
    return kAseOk;
  }
  std::int32_t setSampleRate(double rate) override {
    const AsioError answer = driver_->setSampleRate(rate);
    if (answer == kAseOk) rate_ = rate;
    return Answer(answer);
  }
  std::int32_t getClockSources(abi::NativeClockSource* clocks, std::int32_t* count) override {
    if (clocks == nullptr || count == nullptr || *count < 1) return Answer(kAseInvalidParameter);
    clocks[0] = abi::NativeClockSource{kInternalClock, kNoAssociation, kNoAssociation, kTrue, {}};
    CopyText(kClockName, clocks[0].name, abi::kChannelNameSize);
    *count = 1;
    return kAseOk;
  }
  std::int32_t setClockSource(std::int32_t reference) override {
    return Answer(reference == kInternalClock ? kAseOk : kAseInvalidParameter);
  }
  std::int32_t getSamplePosition(abi::NativeSamples* position,
                                 abi::NativeSamples* timeStamp) override {
    if (position == nullptr || timeStamp == nullptr) return Answer(kAseInvalidParameter);
    if (!running_ || !session_ || !session_->Position(position, timeStamp))
      return Answer(kAseNotPresent);
    return kAseOk;
  }
  std::int32_t getChannelInfo(abi::NativeChannelInfo* info) override {
    if (info == nullptr) return Answer(kAseInvalidParameter);
    driver::ChannelInfo channel;
    channel.channel = info->channel;
    channel.isInput = info->isInput != kFalse;
    if (const AsioError answer = driver_->getChannelInfo(&channel); answer != kAseOk)
      return Answer(answer);
    info->isActive = channel.isActive ? kTrue : kFalse;
    info->channelGroup = channel.channelGroup;
    info->type = switches_.type && !dsd_ ? *switches_.type : abi::SampleTypeToNative(channel.type);
    CopyText(channel.name, info->name, abi::kChannelNameSize);
    return kAseOk;
  }
  std::int32_t createBuffers(abi::NativeBufferInfo* infos, std::int32_t channels,
                             std::int32_t bufferSize, abi::NativeCallbacks* callbacks) override {
    if (infos == nullptr || callbacks == nullptr || channels < 0 || channels > kOutputs ||
        (!switches_.timeInfoOnly && callbacks->bufferSwitch == nullptr))
      return Answer(kAseInvalidParameter);
    if (session_) return Answer(kAseInvalidMode);
    std::int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    if (getBufferSize(&minSize, &maxSize, &preferred, &granularity) == kAseOk &&
        (bufferSize < minSize || bufferSize > maxSize ||
         bufferSize != switches_.size.value_or(bufferSize)))
      return Fail(kAseInvalidParameter, kSizeRefused);
    try {
      std::vector<driver::BufferInfo> made(static_cast<std::size_t>(channels));
      for (std::size_t c = 0; c < made.size(); ++c) {
        made[c].isInput = infos[c].isInput != kFalse;
        made[c].channelNum = infos[c].channelNum;
      }
      const bool ownHalves = switches_.type && !dsd_ && WiderThanRecorded(*switches_.type);
      if (ownHalves) {
        ownHalves_.assign(
            made.size() * kHalves,
            std::vector<std::uint8_t>(static_cast<std::size_t>(bufferSize) * kWidestSampleBytes));
      }
      auto session = std::make_unique<Session>(*callbacks, switches_.timeInfoOnly,
                                               switches_.switchLimit, rate_, bufferSize);
      Session* free = nullptr;
      if (!currentSession.compare_exchange_strong(free, session.get())) {
        ownHalves_.clear();
        return Fail(kAseInvalidMode, kSlotTaken);
      }
      const AsioError answer =
          driver_->createBuffers(made.data(), channels, bufferSize, &kTrampolines);
      if (answer != kAseOk) {
        currentSession.store(nullptr);
        ownHalves_.clear();
        return Answer(answer);
      }
      session_ = std::move(session);
      bufferSize_ = bufferSize;
      fileHalves_.clear();
      for (std::size_t c = 0; c < made.size(); ++c) {
        for (std::size_t half = 0; half < kHalves; ++half) {
          fileHalves_.push_back(static_cast<std::uint8_t*>(made[c].buffers[half]));
          infos[c].buffers[half] =
              ownHalves ? ownHalves_[c * kHalves + half].data() : made[c].buffers[half];
        }
      }
      return kAseOk;
    } catch (const std::bad_alloc&) {
      ownHalves_.clear();
      return Fail(kAseNoMemory, kOutOfMemory);
    }
  }
  std::int32_t disposeBuffers() override {
    const AsioError answer = driver_->disposeBuffers();
    if (answer != kAseOk) return Answer(answer);
    Session* mine = session_.get();
    currentSession.compare_exchange_strong(mine, nullptr);
    session_.reset();
    ownHalves_.clear();
    fileHalves_.clear();
    bufferSize_ = 0;
    return kAseOk;
  }
  std::int32_t controlPanel() override { return kAseOk; }
  std::int32_t future(std::int32_t selector, void* options) override {
    const bool setsFormat = selector == driver::kAsioSetIoFormat && options != nullptr;
    const bool toDsd = setsFormat && static_cast<const driver::IoFormat*>(options)->formatType ==
                                         driver::kASIODSDFormat;
    if (toDsd && switches_.noDsd) return Fail(kAseNotPresent, kDsdRefused);
    const AsioError answer = driver_->future(selector, options);
    if (setsFormat && answer == driver::kAseSuccess) SetFormatRate(toDsd);
    return answer == driver::kAseSuccess ? answer : Answer(answer);
  }
  // With halves of its own the host's filled half reaches the file driver's now.
  std::int32_t outputReady() override {
    if (session_ && !ownHalves_.empty()) {
      const std::size_t half = session_->FillingHalf();
      const std::size_t bytes = static_cast<std::size_t>(bufferSize_) * kRecordedSampleBytes;
      for (std::size_t c = 0; c * kHalves < ownHalves_.size(); ++c) {
        std::memcpy(fileHalves_[c * kHalves + half], ownHalves_[c * kHalves + half].data(), bytes);
      }
    }
    return Answer(driver_->outputReady());
  }

 private:
  // After a format switch the file driver has no rate: the one kept when the format stays, else
  // the new format's first.
  void SetFormatRate(bool dsd) {
    if (dsd != dsd_ || rate_ == 0) rate_ = dsd ? kDefaultDsdRate : kDefaultPcmRate;
    dsd_ = dsd;
    (void)driver_->setSampleRate(rate_);
  }
  AsioError Fail(AsioError answer, const char* text) {
    error_ = text;
    return answer;
  }
  AsioError Answer(AsioError answer) { return answer == kAseOk ? answer : Fail(answer, kRefused); }

  const Switches switches_;
  file_output::FileDriverRegistry registry_;
  std::unique_ptr<driver::Driver> driver_;
  bool initialised_ = false;
  bool running_ = false;
  bool dsd_ = false;
  double rate_ = 0;
  std::int32_t bufferSize_ = 0;  // 0: no buffers
  std::unique_ptr<Session> session_;
  // With a type wider than recorded: the host's halves (channel * 2 + half), and the file
  // driver's behind them.
  std::vector<std::vector<std::uint8_t>> ownHalves_;
  std::vector<std::uint8_t*> fileHalves_;
  const char* error_ = kNoError;
};

class ClassFactory final : public CountedObject<IClassFactory, kClassFactoryInterface> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID id, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    TestDriver* made = nullptr;
    try {
      made = new TestDriver(ReadSwitches());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    const HRESULT answer = made->Made() ? made->QueryInterface(id, object) : E_FAIL;
    made->Release();
    return answer;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    serverLocks += lock ? 1 : -1;
    return S_OK;
  }
};

// A registry key open for writing, closed when it goes.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool Create(const std::wstring& path) {
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                             &key_, nullptr) == ERROR_SUCCESS;
  }
  // A text value; `name` nullptr is the key's default value.
  bool SetText(const wchar_t* name, const std::wstring& value) {
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            bytes) == ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
};

std::wstring ClassIdText() {
  constexpr int kGuidTextSize = 39;
  wchar_t text[kGuidTextSize] = {};
  return ::StringFromGUID2(kClassId, text, kGuidTextSize) > 0 ? std::wstring(text) : std::wstring();
}

std::wstring ClassKeyPath() { return kClassesKeyPath + ClassIdText(); }

// This DLL's full path; empty when it cannot be had.
std::wstring ModulePath() {
  HMODULE self = nullptr;
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ModulePath), &self))
    return {};
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
}

bool DeleteTree(const std::wstring& path) {
  const LSTATUS status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace
}  // namespace lumaro::platform::sim::test_driver

// The server's exports (asio_test_driver_win32.def).
using namespace lumaro::platform::sim::test_driver;

// The DLL stays loaded from the first object asked for on, so that the count of init calls is the
// process's even where the component system unloads unused libraries between objects.
STDAPI DllGetClassObject(REFCLSID classId, REFIID id, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (classId != kClassId) return CLASS_E_CLASSNOTAVAILABLE;
  HMODULE self = nullptr;
  (void)::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                             reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&initCalls)),
                             &self);
  auto* factory = new (std::nothrow) ClassFactory();
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT answer = factory->QueryInterface(id, object);
  factory->Release();
  return answer;
}

STDAPI DllCanUnloadNow() { return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  const std::wstring classId = ClassIdText();
  const std::wstring module = ModulePath();
  if (classId.empty() || module.empty()) return SELFREG_E_CLASS;
  RegistryKey classKey;
  RegistryKey serverKey;
  RegistryKey driverKey;
  const bool written =
      classKey.Create(ClassKeyPath()) && classKey.SetText(nullptr, kDescription) &&
      serverKey.Create(ClassKeyPath() + kServerSubkey) && serverKey.SetText(nullptr, module) &&
      serverKey.SetText(kThreadingModelValue, kThreadingModel) &&
      driverKey.Create(kDriverKeyPath) && driverKey.SetText(kClassIdValue, classId) &&
      driverKey.SetText(kDescriptionValue, kDescription);
  return written ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
  const bool driverRemoved = DeleteTree(kDriverKeyPath);
  const bool classRemoved = DeleteTree(ClassKeyPath());
  return driverRemoved && classRemoved ? S_OK : SELFREG_E_CLASS;
}
