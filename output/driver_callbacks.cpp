#include "output/driver_callbacks.h"

#include "engine/playback_event.h"

namespace lumaro::output {
namespace {
namespace drv = platform::driver;

constexpr std::int32_t kEngineVersion = 2;
constexpr std::int32_t kYes = 1;
constexpr std::int32_t kNo = 0;
}  // namespace

void OnBufferSwitch(std::int32_t index, bool) {
  engine::AsioHalf().store(static_cast<std::uint32_t>(index - 1) & 1U, std::memory_order_release);
  if (platform::Event* event = engine::PlaybackEvent()) event->Set();
}

void OnSampleRateChange(double) {}

std::int32_t OnDriverMessage(std::int32_t selector, std::int32_t value, void*, double*) {
  switch (selector) {
    case drv::kAsioSelectorSupported:
      return value == drv::kAsioEngineVersion ? kYes : kNo;
    case drv::kAsioEngineVersion:
      return kEngineVersion;
    case drv::kAsioResetRequest:
    case drv::kAsioLatenciesChanged:
      return kYes;
    default:
      return kNo;
  }
}

drv::TimeInfo* OnBufferSwitchTimeInfo(drv::TimeInfo*, std::int32_t, bool) {
  drv::TimeInfo& info = engine::AsioTimeInfo();
  info = drv::TimeInfo{};
  return &info;
}

const drv::Callbacks& DriverCallbacks() {
  static const drv::Callbacks callbacks{OnBufferSwitch, OnSampleRateChange, OnDriverMessage,
                                        OnBufferSwitchTimeInfo};
  return callbacks;
}

}  // namespace lumaro::output
