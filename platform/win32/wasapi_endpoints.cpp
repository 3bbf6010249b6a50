#include "platform/win32/wasapi_endpoints.h"

#include "platform/win32/win32_api.h"
// After windows.h:
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <propidl.h>

#include <string>

#include "platform/win32/com_ref.h"

namespace lumaro::platform::win32 {
namespace {

namespace ep = endpoint;

// The endpoint's friendly name in its property store.
constexpr PROPERTYKEY kFriendlyNameKey = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
// The sub-formats of an extensible wave format.
constexpr GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kSubtypeIeeeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr WORD kFormatTagPcm = 1;
constexpr WORD kFormatTagIeeeFloat = 3;

AUDCLNT_SHAREMODE ShareModeOf(ep::ShareMode mode) {
  return mode == ep::ShareMode::kShared ? AUDCLNT_SHAREMODE_SHARED : AUDCLNT_SHAREMODE_EXCLUSIVE;
}

WAVEFORMATEXTENSIBLE ToNative(const ep::WaveFormat& format) {
  WAVEFORMATEXTENSIBLE native{};
  native.Format.wFormatTag = format.formatTag;
  native.Format.nChannels = format.channels;
  native.Format.nSamplesPerSec = format.samplesPerSec;
  native.Format.nAvgBytesPerSec = format.avgBytesPerSec;
  native.Format.nBlockAlign = format.blockAlign;
  native.Format.wBitsPerSample = format.bitsPerSample;
  native.Format.cbSize = format.extraSize;
  native.Samples.wValidBitsPerSample = format.validBitsPerSample;
  native.dwChannelMask = format.channelMask;
  native.SubFormat = format.subFormat == ep::SubFormat::kPcm ? kSubtypePcm : kSubtypeIeeeFloat;
  return native;
}

// A format the system answered, extensible or plain; a plain one carries its valid bits and its
// sub-format in its tag.
ep::WaveFormat FromNative(const WAVEFORMATEX& native) {
  ep::WaveFormat format;
  format.formatTag = native.wFormatTag;
  format.channels = native.nChannels;
  format.samplesPerSec = native.nSamplesPerSec;
  format.avgBytesPerSec = native.nAvgBytesPerSec;
  format.blockAlign = native.nBlockAlign;
  format.bitsPerSample = native.wBitsPerSample;
  format.extraSize = native.cbSize;
  const bool extensible = native.wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
                          native.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  if (extensible) {
    const auto& full = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(native);
    format.validBitsPerSample = full.Samples.wValidBitsPerSample;
    format.channelMask = full.dwChannelMask;
    format.subFormat = IsEqualGUID(full.SubFormat, kSubtypeIeeeFloat) ? ep::SubFormat::kIeeeFloat
                                                                      : ep::SubFormat::kPcm;
  } else {
    format.validBitsPerSample = native.wBitsPerSample;
    format.channelMask = 0;
    format.subFormat =
        native.wFormatTag == kFormatTagIeeeFloat ? ep::SubFormat::kIeeeFloat : ep::SubFormat::kPcm;
  }
  return format;
}

class WasapiRenderClient final : public ep::RenderClient {
 public:
  explicit WasapiRenderClient(ComRef<IAudioRenderClient> client) : client_(std::move(client)) {}
  ep::HResult GetBuffer(std::uint32_t frames, std::uint8_t** data) override {
    return client_->GetBuffer(frames, data);
  }
  ep::HResult ReleaseBuffer(std::uint32_t frames) override {
    return client_->ReleaseBuffer(frames, 0);
  }

 private:
  ComRef<IAudioRenderClient> client_;
};

class WasapiAudioClient final : public ep::AudioClient {
 public:
  explicit WasapiAudioClient(ComRef<IAudioClient> client) : client_(std::move(client)) {}

  ep::HResult IsFormatSupported(ep::ShareMode mode, const ep::WaveFormat& format,
                                std::optional<ep::WaveFormat>* closest) override {
    const WAVEFORMATEXTENSIBLE native = ToNative(format);
    WAVEFORMATEX* match = nullptr;
    const bool shared = mode == ep::ShareMode::kShared;
    const HRESULT answer =
        client_->IsFormatSupported(ShareModeOf(mode), &native.Format, shared ? &match : nullptr);
    if (closest != nullptr) closest->reset();
    if (match != nullptr) {
      if (closest != nullptr) *closest = FromNative(*match);
      ::CoTaskMemFree(match);
    }
    return answer;
  }

  ep::HResult Initialize(ep::ShareMode mode, std::uint32_t streamFlags, std::int64_t bufferDuration,
                         std::int64_t periodicity, const ep::WaveFormat& format) override {
    const WAVEFORMATEXTENSIBLE native = ToNative(format);
    return client_->Initialize(ShareModeOf(mode), streamFlags, bufferDuration, periodicity,
                               &native.Format, nullptr);
  }
  ep::HResult GetBufferSize(std::uint32_t* frames) override {
    UINT32 size = 0;
    const HRESULT answer = client_->GetBufferSize(&size);
    *frames = size;
    return answer;
  }

  // The client signals the player's event object itself.
  ep::HResult SetEventHandle(Event* event) override {
    if (event == nullptr || event->NativeHandle() == nullptr) return E_INVALIDARG;
    return client_->SetEventHandle(static_cast<HANDLE>(event->NativeHandle()));
  }

  ep::HResult GetService(std::unique_ptr<ep::RenderClient>* renderClient) override {
    ComRef<IAudioRenderClient> render;
    const HRESULT answer =
        client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(render.Put()));
    if (FAILED(answer)) return answer;
    *renderClient = std::make_unique<WasapiRenderClient>(std::move(render));
    return answer;
  }

  ep::HResult Start() override { return client_->Start(); }
  ep::HResult Stop() override { return client_->Stop(); }
  ep::HResult GetCurrentPadding(std::uint32_t* frames) override {
    UINT32 padding = 0;
    const HRESULT answer = client_->GetCurrentPadding(&padding);
    *frames = padding;
    return answer;
  }

 private:
  ComRef<IAudioClient> client_;
};

// Clears a property value when the holder goes.
class PropertyValue {
 public:
  PropertyValue() { ::PropVariantInit(&value_); }
  ~PropertyValue() { ::PropVariantClear(&value_); }
  PropertyValue(const PropertyValue&) = delete;
  PropertyValue& operator=(const PropertyValue&) = delete;
  PROPVARIANT* Get() { return &value_; }

 private:
  PROPVARIANT value_;
};

class WasapiEndpoint final : public ep::Endpoint {
 public:
  explicit WasapiEndpoint(ComRef<IMMDevice> device) : device_(std::move(device)) {}

  ep::HResult GetFriendlyName(std::u16string* name) override {
    ComRef<IPropertyStore> store;
    HRESULT answer = device_->OpenPropertyStore(STGM_READ, store.Put());
    if (FAILED(answer)) return answer;
    PropertyValue value;
    answer = store->GetValue(kFriendlyNameKey, value.Get());
    if (FAILED(answer)) return answer;
    if (value.Get()->vt != VT_LPWSTR || value.Get()->pwszVal == nullptr) return E_FAIL;
    const wchar_t* text = value.Get()->pwszVal;
    *name = FromWide(text, std::wcslen(text));
    return answer;
  }

  ep::HResult Activate(std::unique_ptr<ep::AudioClient>* client) override {
    ComRef<IAudioClient> audio;
    const HRESULT answer = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                             reinterpret_cast<void**>(audio.Put()));
    if (FAILED(answer)) return answer;
    *client = std::make_unique<WasapiAudioClient>(std::move(audio));
    return answer;
  }

 private:
  ComRef<IMMDevice> device_;
};

class WasapiCollection final : public ep::EndpointCollection {
 public:
  explicit WasapiCollection(ComRef<IMMDeviceCollection> devices) : devices_(std::move(devices)) {}

  ep::HResult GetCount(std::uint32_t* count) override {
    UINT total = 0;
    const HRESULT answer = devices_->GetCount(&total);
    *count = total;
    return answer;
  }
  ep::HResult Item(std::uint32_t index, std::unique_ptr<ep::Endpoint>* endpoint) override {
    ComRef<IMMDevice> device;
    const HRESULT answer = devices_->Item(index, device.Put());
    if (FAILED(answer)) return answer;
    *endpoint = std::make_unique<WasapiEndpoint>(std::move(device));
    return answer;
  }

 private:
  ComRef<IMMDeviceCollection> devices_;
};

class WasapiEnumerator final : public ep::Enumerator {
 public:
  explicit WasapiEnumerator(ComRef<IMMDeviceEnumerator> enumerator)
      : enumerator_(std::move(enumerator)) {}
  ep::HResult EnumAudioEndpoints(std::unique_ptr<ep::EndpointCollection>* endpoints) override {
    ComRef<IMMDeviceCollection> devices;
    const HRESULT answer =
        enumerator_->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, devices.Put());
    if (FAILED(answer)) return answer;
    *endpoints = std::make_unique<WasapiCollection>(std::move(devices));
    return answer;
  }

 private:
  ComRef<IMMDeviceEnumerator> enumerator_;
};

class WasapiEndpointSystem final : public ep::EndpointSystem {
 public:
  ep::HResult CreateEnumerator(std::unique_ptr<ep::Enumerator>* enumerator) override {
    ComRef<IMMDeviceEnumerator> object;
    const HRESULT answer =
        ::CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                           __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(object.Put()));
    if (FAILED(answer)) return answer;
    *enumerator = std::make_unique<WasapiEnumerator>(std::move(object));
    return answer;
  }
};

}  // namespace

std::unique_ptr<endpoint::EndpointSystem> OpenWasapiEndpoints() {
  return std::make_unique<WasapiEndpointSystem>();
}

}  // namespace lumaro::platform::win32
