#include "app/driver_lists.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <optional>
#include <vector>

#include "output/device_list.h"
#include "platform/device_formats.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/services.h"
#include "platform/text.h"
#include "resources/status_texts.h"

namespace lumaro::app {
namespace {

namespace drv = platform::driver;
using ListPtr = std::unique_ptr<context::StringList>;

enum : Result {
  kProbeNoRegistry = FirstCode(FailureSite::kDriverLists),
  kProbeNameTooLong,
  kProbeNoMemory,
  kProbeNoThread,
  kProbeNotAnswered,
};

constexpr platform::FailureNames kFailures{
    FailureSite::kDriverLists,
    kProbeNotAnswered,
    {"no driver registry", "driver name too long", "no memory for the driver probe",
     "driver probe thread not started", "driver did not answer in time"}};

// Limits of the registry texts: subkey and driver names in characters, values in bytes with
// their terminator, each a bound the text must stay below.
constexpr std::size_t kNameLimit = 258;
constexpr std::size_t kDescriptionBytesLimit = 258;
constexpr std::size_t kClsidBytesLimit = 254;

constexpr std::u16string_view kDescriptionValue = u"description";
constexpr std::u16string_view kClsidValue = u"CLSID";

constexpr std::uint32_t kDsdMultiples[] = {64, 128, 256, 512};
constexpr std::uint32_t kDsdBaseRate = 44100;

drv::DriverRegistry* Registry(const context::AppContext& app) {
  return app.Services != nullptr ? app.Services->drivers : nullptr;
}

// A text value's size in bytes with its terminator.
std::size_t ValueBytes(std::u16string_view text) { return (text.size() + 1) * sizeof(char16_t); }

// The subkey's "description", when it can be read and is short enough.
std::optional<std::u16string> ReadDescription(drv::Subkey& subkey) {
  std::u16string description;
  if (!subkey.QueryValue(kDescriptionValue, &description) ||
      ValueBytes(description) >= kDescriptionBytesLimit)
    return std::nullopt;
  return description;
}

// The subkey's "CLSID" converted, when it can be read, is short enough and is a class id.
std::optional<drv::ClassId> ReadClassId(drv::Subkey& subkey) {
  std::u16string text;
  if (!subkey.QueryValue(kClsidValue, &text) || ValueBytes(text) >= kClsidBytesLimit)
    return std::nullopt;
  return drv::ClassIdFromString(text);
}

// The driver of class `id` created, of version 2 or more and initialised; nullptr otherwise.
std::unique_ptr<drv::Driver> CreateReadyDriver(drv::DriverRegistry& registry,
                                               const drv::ClassId& id) {
  std::unique_ptr<drv::Driver> driver = registry.CreateInstance(id);
  if (!driver || driver->getDriverVersion() < drv::kMinimumDriverVersion ||
      driver->init(nullptr) != drv::kInitSucceeded)
    return nullptr;
  return driver;
}

// Switches the driver to the PCM or the 1-bit transfer format; true when it did.
bool SwitchFormat(drv::Driver& driver, std::int32_t formatType) {
  drv::IoFormat format;
  format.formatType = formatType;
  return driver.future(drv::kAsioSetIoFormat, &format) == drv::kAseSuccess;
}

// Finds the subkey whose description is `name` (letter case kept); nullopt when the
// enumeration ends, or meets a name too long, first.
std::optional<drv::ClassId> FindDriver(drv::DriverKey& key, std::u16string_view name) {
  std::u16string subkeyName;
  for (std::uint32_t index = 0; key.EnumKey(index, &subkeyName); ++index) {
    if (subkeyName.size() >= kNameLimit) return std::nullopt;
    std::unique_ptr<drv::Subkey> subkey = key.OpenKey(subkeyName);
    if (!subkey) continue;
    const std::optional<std::u16string> description = ReadDescription(*subkey);
    if (!description || *description != name) continue;
    return ReadClassId(*subkey);
  }
  return std::nullopt;
}

// What a probe's thread works on; the thread owns it and frees it when it ends.
struct ProbeRecord {
  std::u16string name;
  drv::DriverRegistry* registry = nullptr;
  platform::DriverProbeTimes times;
  std::shared_ptr<platform::Event> ended;
};

// The probe steps: find the driver, create and initialise it, release it. True when all passed.
bool ProbeSteps(const ProbeRecord& record) {
  std::unique_ptr<drv::DriverKey> key = record.registry->OpenDriversKey();
  if (!key) return false;
  const std::optional<drv::ClassId> id = FindDriver(*key, record.name);
  if (!id || !platform::InitializeApartment()) return false;
  const bool ready = CreateReadyDriver(*record.registry, *id) != nullptr;
  platform::UninitializeApartment();
  return ready;
}

// The body of a probe's thread. A failed probe sleeps longer than the caller waits, so that the
// caller sees a failure and a hang alike as no answer in time.
void RunProbe(std::shared_ptr<ProbeRecord> record) {
  platform::ThreadCount* running = record->times.running;
  const std::shared_ptr<platform::Event> ended = record->ended;
  if (!ProbeSteps(*record)) platform::SleepMilliseconds(record->times.failedSleepMs);
  record.reset();
  ended->Set();
  if (running != nullptr) running->Leave();  // the last touch of anything the caller owns
}

// Appends "Auto" and the PCM rates the driver takes, ascending, then the 1-bit multiples.
// Answers false when an entry cannot be added.
bool AppendRates(drv::Driver& driver, context::StringList& list) {
  if (SwitchFormat(driver, drv::kASIOPCMFormat)) {
    std::vector<std::uint32_t> ascending(std::begin(platform::kRateLadder),
                                         std::end(platform::kRateLadder));
    std::reverse(ascending.begin(), ascending.end());
    bool first = true;
    for (std::uint32_t rate : ascending) {
      if (driver.canSampleRate(rate) != drv::kAseOk) continue;
      if (first && list.Append(resources::kRateAuto) != kOk) return false;
      first = false;
      if (list.Append(platform::DecimalText(rate)) != kOk) return false;
    }
  }
  if (SwitchFormat(driver, drv::kASIODSDFormat)) {
    for (std::uint32_t multiple : kDsdMultiples) {
      if (driver.canSampleRate(static_cast<double>(multiple) * kDsdBaseRate) == drv::kAseOk &&
          list.Append(u"D" + platform::DecimalText(multiple)) != kOk)
        return false;
    }
  }
  return true;
}

}  // namespace

Result AsioProbe(const context::AppContext& app, std::u16string_view name) {
  drv::DriverRegistry* registry = Registry(app);
  if (registry == nullptr) return kFailures.Note(kProbeNoRegistry);
  if (name.size() >= kNameLimit) return kFailures.Note(kProbeNameTooLong);
  const platform::DriverProbeTimes times = app.Services->driverProbe;
  std::shared_ptr<ProbeRecord> record(new (std::nothrow) ProbeRecord);
  std::unique_ptr<platform::Event> made = platform::Event::Create();
  if (!record || !made) return kFailures.Note(kProbeNoMemory);
  const std::shared_ptr<platform::Event> ended(std::move(made));
  record->name.assign(name);
  record->registry = registry;
  record->times = times;
  record->ended = ended;

  if (times.running != nullptr) times.running->Enter();
  // The thread takes the only reference to the record; the caller keeps the event alone.
  if (!platform::StartDetachedThread(
          [record = std::move(record)]() mutable { RunProbe(std::move(record)); })) {
    if (times.running != nullptr) times.running->Leave();
    return kFailures.Note(kProbeNoThread);
  }
  if (ended->Wait(times.waitMs) != platform::WaitResult::kSignalled)
    return kFailures.Note(kProbeNotAnswered);
  return kOk;
}

ListPtr ListAsioDrivers(const context::AppContext& app) {
  drv::DriverRegistry* registry = Registry(app);
  if (registry == nullptr) return nullptr;
  return output::OnOwnThread(app, [&]() -> ListPtr {
    ListPtr names = context::NewStringList();
    if (!names) return nullptr;
    std::unique_ptr<drv::DriverKey> key = registry->OpenDriversKey();
    if (!key) return names;
    std::u16string subkeyName;
    for (std::uint32_t index = 0; key->EnumKey(index, &subkeyName); ++index) {
      if (subkeyName.size() >= kNameLimit) continue;
      std::unique_ptr<drv::Subkey> subkey = key->OpenKey(subkeyName);
      if (!subkey) continue;
      const std::optional<std::u16string> description = ReadDescription(*subkey);
      const std::optional<drv::ClassId> id = ReadClassId(*subkey);
      if (!description || !id || AsioProbe(app, *description) != kOk) continue;
      std::unique_ptr<drv::Driver> driver = CreateReadyDriver(*registry, *id);
      if (!driver || !SwitchFormat(*driver, drv::kASIOPCMFormat) ||
          !SwitchFormat(*driver, drv::kASIODSDFormat))
        continue;
      if (names->Append(*description) != kOk) return nullptr;
    }
    return names;
  });
}

ListPtr AsioRates(const context::AppContext& app, std::u16string_view name) {
  drv::DriverRegistry* registry = Registry(app);
  if (registry == nullptr) return nullptr;
  return output::OnOwnThread(app, [&]() -> ListPtr {
    std::unique_ptr<drv::DriverKey> key = registry->OpenDriversKey();
    if (!key) return nullptr;
    const std::optional<drv::ClassId> id = FindDriver(*key, name);
    if (!id || AsioProbe(app, name) != kOk) return nullptr;
    std::unique_ptr<drv::Driver> driver = CreateReadyDriver(*registry, *id);
    if (!driver) return nullptr;
    ListPtr list = context::NewStringList();
    if (!list || !AppendRates(*driver, *list)) return nullptr;
    return list;
  });
}

}  // namespace lumaro::app
