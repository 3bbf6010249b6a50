#include "platform/win32/asio_drivers_win32.h"

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/asio_abi.h"
#include "platform/win32/com_ref.h"

namespace lumaro::platform::win32 {
namespace {

namespace drv = driver;
namespace abi = driver::abi;

constexpr const wchar_t* kDriversKeyPath = L"software\\asio";
// Registry key names are at most 255 characters.
constexpr DWORD kKeyNameCapacity = 256;

// ---- The registry ------------------------------------------------------------------------

// One open registry key, closed when the holder goes.
class RegistryKey {
 public:
  explicit RegistryKey(HKEY key) : key_(key) {}
  ~RegistryKey() { ::RegCloseKey(key_); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY Get() const { return key_; }

  // `name` opened for reading below `parent`; nullptr when it cannot be.
  static std::unique_ptr<RegistryKey> Open(HKEY parent, const std::wstring& name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return std::make_unique<RegistryKey>(key);
  }

 private:
  HKEY key_;
};

class Win32Subkey final : public drv::Subkey {
 public:
  explicit Win32Subkey(std::unique_ptr<RegistryKey> key) : key_(std::move(key)) {}

  // A text value read whole: its size first, then the text; the terminator is dropped.
  bool QueryValue(std::u16string_view name, std::u16string* value) override {
    std::wstring valueName;
    if (!NativePath(name, &valueName)) return false;
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key_->Get(), valueName.c_str(), nullptr, &type, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
      return false;
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key_->Get(), valueName.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(text.data()), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
      return false;
    std::size_t length = bytes / sizeof(wchar_t);
    while (length > 0 && text[length - 1] == L'\0') --length;
    *value = FromWide(text.data(), length);
    return true;
  }

 private:
  std::unique_ptr<RegistryKey> key_;
};

class Win32DriverKey final : public drv::DriverKey {
 public:
  explicit Win32DriverKey(std::unique_ptr<RegistryKey> key) : key_(std::move(key)) {}

  bool EnumKey(std::uint32_t index, std::u16string* name) override {
    std::array<wchar_t, kKeyNameCapacity> text{};
    DWORD length = kKeyNameCapacity;
    if (::RegEnumKeyExW(key_->Get(), index, text.data(), &length, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS)
      return false;
    *name = FromWide(text.data(), length);
    return true;
  }

  std::unique_ptr<drv::Subkey> OpenKey(std::u16string_view name) override {
    std::wstring native;
    if (!NativePath(name, &native)) return nullptr;
    std::unique_ptr<RegistryKey> key = RegistryKey::Open(key_->Get(), native);
    if (!key) return nullptr;
    return std::make_unique<Win32Subkey>(std::move(key));
  }

 private:
  std::unique_ptr<RegistryKey> key_;
};

// ---- The callbacks -----------------------------------------------------------------------

// The player's callbacks of the driver that has buffers now. A driver calls the native functions
// below, which receive no context, from its own thread; they hand the call on.
struct CurrentCallbacks {
  std::atomic<void (*)(std::int32_t, bool)> bufferSwitch{nullptr};
  std::atomic<void (*)(double)> sampleRateDidChange{nullptr};
  std::atomic<std::int32_t (*)(std::int32_t, std::int32_t, void*, double*)> asioMessage{nullptr};
  std::atomic<drv::TimeInfo* (*)(drv::TimeInfo*, std::int32_t, bool)> bufferSwitchTimeInfo{nullptr};
};
CurrentCallbacks gCallbacks;
// What the time-info callback answers the driver: the player's answer, in the native layout.
abi::NativeTime gNativeTime;

void NativeBufferSwitch(std::int32_t index, abi::AsioBool directProcess) {
  if (const auto call = gCallbacks.bufferSwitch.load()) call(index, directProcess != 0);
}

void NativeSampleRateDidChange(double rate) {
  if (const auto call = gCallbacks.sampleRateDidChange.load()) call(rate);
}

std::int32_t NativeAsioMessage(std::int32_t selector, std::int32_t value, void* message,
                               double* options) {
  const auto call = gCallbacks.asioMessage.load();
  return call ? call(selector, value, message, options) : 0;
}

abi::NativeTime* NativeBufferSwitchTimeInfo(abi::NativeTime* params, std::int32_t index,
                                            abi::AsioBool directProcess) {
  const auto call = gCallbacks.bufferSwitchTimeInfo.load();
  if (!call) return nullptr;
  drv::TimeInfo info;
  if (params != nullptr) {
    info.speed = params->timeInfo.speed;
    info.systemTimeNs = abi::JoinSamples(params->timeInfo.systemTime);
    info.samplePosition = abi::JoinSamples(params->timeInfo.samplePosition);
    info.sampleRate = params->timeInfo.sampleRate;
    info.flags = params->timeInfo.flags;
  }
  const drv::TimeInfo* answer = call(&info, index, directProcess != 0);
  if (answer == nullptr) return nullptr;
  std::memset(&gNativeTime, 0, sizeof gNativeTime);
  gNativeTime.timeInfo.speed = answer->speed;
  gNativeTime.timeInfo.systemTime = abi::SplitSamples(answer->systemTimeNs);
  gNativeTime.timeInfo.samplePosition = abi::SplitSamples(answer->samplePosition);
  gNativeTime.timeInfo.sampleRate = answer->sampleRate;
  gNativeTime.timeInfo.flags = answer->flags;
  return &gNativeTime;
}

abi::NativeCallbacks gNativeCallbacks{NativeBufferSwitch, NativeSampleRateDidChange,
                                      NativeAsioMessage, NativeBufferSwitchTimeInfo};

void InstallCallbacks(const drv::Callbacks& callbacks) {
  gCallbacks.bufferSwitch = callbacks.bufferSwitch;
  gCallbacks.sampleRateDidChange = callbacks.sampleRateDidChange;
  gCallbacks.asioMessage = callbacks.asioMessage;
  gCallbacks.bufferSwitchTimeInfo = callbacks.bufferSwitchTimeInfo;
}

// ---- The driver object -------------------------------------------------------------------

// A driver's component object seen through the family's interface; every call goes to the
// object's slot of the same name and its answer comes back as it is. Released while it runs or
// holds buffers, it is stopped and its buffers disposed first, as the family promises.
class ComDriver final : public drv::Driver {
 public:
  explicit ComDriver(ComRef<abi::IAsio> object) : object_(std::move(object)) {}
  ~ComDriver() override {
    if (running_) (void)object_->stop();
    if (buffers_) (void)object_->disposeBuffers();
  }
  ComDriver(const ComDriver&) = delete;
  ComDriver& operator=(const ComDriver&) = delete;

  std::int32_t init(void* systemHandle) override { return object_->init(systemHandle); }
  std::int32_t getDriverVersion() override { return object_->getDriverVersion(); }
  drv::AsioError future(std::int32_t selector, void* params) override {
    return object_->future(selector, params);
  }
  drv::AsioError canSampleRate(double rate) override { return object_->canSampleRate(rate); }
  drv::AsioError setSampleRate(double rate) override { return object_->setSampleRate(rate); }
  drv::AsioError getBufferSize(std::int32_t* minSize, std::int32_t* maxSize,
                               std::int32_t* preferredSize, std::int32_t* granularity) override {
    return object_->getBufferSize(minSize, maxSize, preferredSize, granularity);
  }

  // The request in the native layout, and the halves the driver made copied back.
  drv::AsioError createBuffers(drv::BufferInfo* infos, std::int32_t channels,
                               std::int32_t bufferSize, const drv::Callbacks* callbacks) override {
    if (infos == nullptr || channels < 0 || callbacks == nullptr) return drv::kAseInvalidParameter;
    std::vector<abi::NativeBufferInfo> native(static_cast<std::size_t>(channels));
    for (std::size_t c = 0; c < native.size(); ++c) {
      native[c] = {infos[c].isInput ? 1 : 0, infos[c].channelNum, {nullptr, nullptr}};
    }
    InstallCallbacks(*callbacks);
    const drv::AsioError answer =
        object_->createBuffers(native.data(), channels, bufferSize, &gNativeCallbacks);
    for (std::size_t c = 0; c < native.size(); ++c) {
      infos[c].buffers = {native[c].buffers[0], native[c].buffers[1]};
    }
    buffers_ = buffers_ || answer == drv::kAseOk;
    return answer;
  }

  drv::AsioError getChannelInfo(drv::ChannelInfo* info) override {
    abi::NativeChannelInfo native{};
    native.channel = info->channel;
    native.isInput = info->isInput ? 1 : 0;
    const drv::AsioError answer = object_->getChannelInfo(&native);
    info->isActive = native.isActive != 0;
    info->channelGroup = native.channelGroup;
    info->type = abi::SampleTypeFromNative(native.type);
    // The name's bytes as Latin-1 characters.
    info->name.clear();
    for (std::size_t i = 0; i < abi::kChannelNameSize && native.name[i] != '\0'; ++i) {
      info->name += static_cast<char16_t>(static_cast<unsigned char>(native.name[i]));
    }
    return answer;
  }

  drv::AsioError start() override {
    const drv::AsioError answer = object_->start();
    running_ = running_ || answer == drv::kAseOk;
    return answer;
  }
  drv::AsioError outputReady() override { return object_->outputReady(); }
  drv::AsioError stop() override {
    const drv::AsioError answer = object_->stop();
    if (answer == drv::kAseOk) running_ = false;
    return answer;
  }
  drv::AsioError disposeBuffers() override {
    const drv::AsioError answer = object_->disposeBuffers();
    if (answer == drv::kAseOk) buffers_ = false;
    return answer;
  }

 private:
  ComRef<abi::IAsio> object_;
  bool running_ = false;
  bool buffers_ = false;
};

class Win32DriverRegistry final : public drv::DriverRegistry {
 public:
  std::unique_ptr<drv::DriverKey> OpenDriversKey() override {
    std::unique_ptr<RegistryKey> key = RegistryKey::Open(HKEY_LOCAL_MACHINE, kDriversKeyPath);
    if (!key) return nullptr;
    return std::make_unique<Win32DriverKey>(std::move(key));
  }

  // The driver's object asked for by its class id, which is also the id of its interface.
  std::unique_ptr<drv::Driver> CreateInstance(const drv::ClassId& id) override {
    GUID guid{};
    if (!abi::GuidFromClassId(id, &guid)) return nullptr;
    ComRef<abi::IAsio> object;
    if (FAILED(::CoCreateInstance(guid, nullptr, CLSCTX_INPROC_SERVER, guid,
                                  reinterpret_cast<void**>(object.Put()))) ||
        !object)
      return nullptr;
    return std::make_unique<ComDriver>(std::move(object));
  }
};

}  // namespace

std::unique_ptr<driver::DriverRegistry> OpenAsioDrivers() {
  return std::make_unique<Win32DriverRegistry>();
}

}  // namespace lumaro::platform::win32
