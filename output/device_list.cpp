#include "output/device_list.h"

#include <algorithm>
#include <iterator>

#include "context/status_line.h"
#include "output/endpoint_format.h"
#include "platform/text.h"
#include "resources/status_texts.h"

namespace lumaro::output {
namespace {

namespace ep = platform::endpoint;
using ListPtr = std::unique_ptr<context::StringList>;

constexpr std::uint32_t kDsdMultiples[] = {64, 128, 256};
constexpr std::uint32_t kDsdBaseRate = 44100;

// The active render endpoints of the process's endpoint family, or nullptr.
std::unique_ptr<ep::EndpointCollection> ActiveEndpoints(const context::AppContext& app,
                                                        std::unique_ptr<ep::Enumerator>* owner) {
  ep::EndpointSystem* system = app.Services != nullptr ? app.Services->endpoints : nullptr;
  std::unique_ptr<ep::EndpointCollection> endpoints;
  if (system == nullptr || ep::Failed(system->CreateEnumerator(owner)) || !*owner ||
      ep::Failed((*owner)->EnumAudioEndpoints(&endpoints))) {
    return nullptr;
  }
  return endpoints;
}

bool TakesExclusive(ep::AudioClient& client, std::uint32_t rate, std::uint16_t container,
                    std::uint16_t valid) {
  std::optional<ep::WaveFormat> closest;
  return client.IsFormatSupported(ep::ShareMode::kExclusive,
                                  ep::MakeWaveFormat(ep::SubFormat::kPcm, rate, container, valid),
                                  &closest) == ep::kSOk;
}

ListPtr RatesOf(ep::AudioClient& client) {
  ListPtr list = context::NewStringList();
  if (!list) return nullptr;
  std::vector<std::uint32_t> ascending(std::begin(kRateLadder), std::end(kRateLadder));
  std::reverse(ascending.begin(), ascending.end());
  bool first = true;
  for (std::uint32_t rate : ascending) {
    const bool supported = std::any_of(
        std::begin(kPcmCandidates), std::end(kPcmCandidates),
        [&](PcmCandidate c) { return TakesExclusive(client, rate, c.containerBits, c.validBits); });
    if (!supported) continue;
    if (first &&
        (list->Append(resources::kRateShare) != kOk || list->Append(resources::kRateAuto) != kOk))
      return nullptr;
    first = false;
    if (list->Append(platform::DecimalText(rate)) != kOk) return nullptr;
  }
  for (std::uint32_t multiple : kDsdMultiples) {
    const std::uint32_t dopRate = multiple * kDsdBaseRate / kDopBitsPerFrame;
    const bool supported = std::any_of(
        std::begin(kDopContainers), std::end(kDopContainers),
        [&](std::uint16_t c) { return TakesExclusive(client, dopRate, c, kDopValidBits); });
    if (supported && list->Append(u"D" + platform::DecimalText(multiple)) != kOk) return nullptr;
  }
  return list;
}

}  // namespace

ListPtr OnOwnThread(const context::AppContext& app, const std::function<ListPtr()>& build) {
  ListPtr list;
  platform::ThreadStarter& threads =
      app.Services != nullptr ? *app.Services->threads : platform::SystemThreads();
  std::unique_ptr<platform::Thread> thread = threads.Start([&] {
    if (!platform::InitializeApartment()) return;
    list = build();
    platform::UninitializeApartment();
  });
  if (!thread) return nullptr;
  thread->Join();
  return list;
}

ListPtr ListEndpoints(const context::AppContext& app) {
  return OnOwnThread(app, [&]() -> ListPtr {
    std::unique_ptr<ep::Enumerator> enumerator;
    std::unique_ptr<ep::EndpointCollection> endpoints = ActiveEndpoints(app, &enumerator);
    std::uint32_t count = 0;
    if (!endpoints || ep::Failed(endpoints->GetCount(&count))) return nullptr;
    ListPtr names = context::NewStringList();
    if (!names) return nullptr;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::unique_ptr<ep::Endpoint> endpoint;
      std::u16string name;
      if (ep::Failed(endpoints->Item(i, &endpoint)) || !endpoint ||
          ep::Failed(endpoint->GetFriendlyName(&name)) || names->Append(name) != kOk) {
        return nullptr;
      }
    }
    return names;
  });
}

ListPtr WasapiRates(const context::AppContext& app, std::u16string_view name) {
  return OnOwnThread(app, [&]() -> ListPtr {
    std::unique_ptr<ep::Enumerator> enumerator;
    std::unique_ptr<ep::EndpointCollection> endpoints = ActiveEndpoints(app, &enumerator);
    std::uint32_t count = 0;
    if (!endpoints || ep::Failed(endpoints->GetCount(&count))) return nullptr;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::unique_ptr<ep::Endpoint> endpoint;
      std::u16string friendly;
      if (ep::Failed(endpoints->Item(i, &endpoint)) || !endpoint ||
          ep::Failed(endpoint->GetFriendlyName(&friendly))) {
        return nullptr;
      }
      if (!platform::EqualNoCase(friendly, name)) continue;
      std::unique_ptr<ep::AudioClient> client;
      if (ep::Failed(endpoint->Activate(&client)) || !client) {
        context::ShowStatus(app, resources::kErrActivateFailed);
        return nullptr;
      }
      return RatesOf(*client);
    }
    return nullptr;
  });
}

}  // namespace lumaro::output
