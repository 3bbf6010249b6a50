#include "platform/combined_devices.h"

#include <string>

namespace lumaro::platform {

using endpoint::HResult;
using endpoint::kSOk;

namespace {

class CombinedCollection final : public endpoint::EndpointCollection {
 public:
  explicit CombinedCollection(std::vector<std::unique_ptr<endpoint::EndpointCollection>> parts)
      : parts_(std::move(parts)) {}
  HResult GetCount(std::uint32_t* count) override {
    *count = 0;
    for (auto& part : parts_) {
      std::uint32_t n = 0;
      if (!endpoint::Failed(part->GetCount(&n))) *count += n;
    }
    return kSOk;
  }
  HResult Item(std::uint32_t index, std::unique_ptr<endpoint::Endpoint>* endpoint) override {
    for (auto& part : parts_) {
      std::uint32_t n = 0;
      if (endpoint::Failed(part->GetCount(&n))) continue;
      if (index < n) return part->Item(index, endpoint);
      index -= n;
    }
    return endpoint::kEFail;
  }

 private:
  std::vector<std::unique_ptr<endpoint::EndpointCollection>> parts_;
};

class CombinedEnumerator final : public endpoint::Enumerator {
 public:
  explicit CombinedEnumerator(std::vector<std::unique_ptr<endpoint::Enumerator>> parts)
      : parts_(std::move(parts)) {}
  HResult EnumAudioEndpoints(std::unique_ptr<endpoint::EndpointCollection>* endpoints) override {
    std::vector<std::unique_ptr<endpoint::EndpointCollection>> collections;
    for (auto& part : parts_) {
      std::unique_ptr<endpoint::EndpointCollection> c;
      if (!endpoint::Failed(part->EnumAudioEndpoints(&c)) && c) collections.push_back(std::move(c));
    }
    *endpoints = std::make_unique<CombinedCollection>(std::move(collections));
    return kSOk;
  }

 private:
  std::vector<std::unique_ptr<endpoint::Enumerator>> parts_;
};

// Subkey names are answered in the parts' order; a name opens in the first part that has it.
class CombinedKey final : public driver::DriverKey {
 public:
  explicit CombinedKey(std::vector<std::unique_ptr<driver::DriverKey>> parts)
      : parts_(std::move(parts)) {}
  bool EnumKey(std::uint32_t index, std::u16string* name) override {
    for (auto& part : parts_) {
      std::uint32_t own = 0;
      std::u16string found;
      while (part->EnumKey(own, &found)) {
        if (index == 0) {
          *name = std::move(found);
          return true;
        }
        --index;
        ++own;
      }
    }
    return false;
  }
  std::unique_ptr<driver::Subkey> OpenKey(std::u16string_view name) override {
    for (auto& part : parts_) {
      if (std::unique_ptr<driver::Subkey> key = part->OpenKey(name)) return key;
    }
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<driver::DriverKey>> parts_;
};

}  // namespace

HResult CombinedEndpointSystem::CreateEnumerator(
    std::unique_ptr<endpoint::Enumerator>* enumerator) {
  std::vector<std::unique_ptr<endpoint::Enumerator>> enumerators;
  for (endpoint::EndpointSystem* part : parts_) {
    std::unique_ptr<endpoint::Enumerator> e;
    if (!endpoint::Failed(part->CreateEnumerator(&e)) && e) enumerators.push_back(std::move(e));
  }
  if (enumerators.empty()) return endpoint::kEFail;
  *enumerator = std::make_unique<CombinedEnumerator>(std::move(enumerators));
  return kSOk;
}

std::unique_ptr<driver::DriverKey> CombinedDriverRegistry::OpenDriversKey() {
  std::vector<std::unique_ptr<driver::DriverKey>> keys;
  for (driver::DriverRegistry* part : parts_) {
    if (std::unique_ptr<driver::DriverKey> key = part->OpenDriversKey())
      keys.push_back(std::move(key));
  }
  if (keys.empty()) return nullptr;
  return std::make_unique<CombinedKey>(std::move(keys));
}

std::unique_ptr<driver::Driver> CombinedDriverRegistry::CreateInstance(const driver::ClassId& id) {
  for (driver::DriverRegistry* part : parts_) {
    if (std::unique_ptr<driver::Driver> d = part->CreateInstance(id)) return d;
  }
  return nullptr;
}

}  // namespace lumaro::platform
