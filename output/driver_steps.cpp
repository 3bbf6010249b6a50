#include "output/driver_steps.h"

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/feeding.h"
#include "engine/playback_event.h"
#include "engine/step_machine.h"
#include "engine/track_preparation.h"
#include "output/driver_callbacks.h"
#include "output/driver_format.h"
#include "output/endpoint_format.h"
#include "platform/failure.h"
#include "platform/scope_exit.h"
#include "platform/text.h"
#include "resources/status_texts.h"

namespace lumaro::output {
namespace {

namespace drv = platform::driver;
namespace res = resources;
using context::PlayRequest;
using context::Step;
using engine::ShowStatus;
using engine::StepMachine;
using platform::ScopeExit;

enum : Result {
  kErrNoKey = FirstCode(FailureSite::kDriverSteps),
  kErrNotFound,
  kErrSessionMemory,
  kErrCreate,
  kErrNotAvailable,
  kErrInit,
  kErrFuture,
  kErrAudioFormat,
  kErrRateChoice,
  kErrBufferSize,
  kErrCreateBuffers,
  kErrChannelInfo,
  kErrSampleType,
  kErrStart,
  kErrStopped,
  kErrNoOutput,
  kErrPassMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kDriverSteps,
    kErrPassMemory,
    {"no drivers' key", "driver not found", "no memory for the driver session",
     "driver not created", "driver did not answer the probe", "init failed", "IO format refused",
     "no rate taken", "not a 1-bit rate choice", "getBufferSize failed", "createBuffers failed",
     "getChannelInfo failed", "sample type not driven", "start failed",
     "stopped during the lead-in", "no output data", "no memory for a pass"}};

Result Fail(const PlayRequest& r, Result code) noexcept { return kFailures.Note(code, r.Device); }

// Limits of the registry's texts, in UTF-16 units and bytes.
constexpr std::size_t kLongestName = 125;  // longer subkey names are skipped
constexpr std::size_t kValueBytes = 256;   // the most a value read takes, terminator included
constexpr std::size_t kPrefixUnits = context::kDriverPrefix.size();
constexpr std::size_t kBufferInfoCount = 16;
constexpr std::int32_t kOutputChannels = 2;
constexpr std::uint32_t kBitsPerByte = 8;

// The driver family's objects of one track, released in reverse order by the steps that made
// them.
struct DriverSession final : context::DeviceSession {
  std::unique_ptr<drv::DriverKey> AsioKey;
  std::u16string SubkeyName;
  std::unique_ptr<drv::Subkey> Subkey;
  std::u16string ClsidText;
  drv::ClassId Clsid{};
  std::u16string Description;
  std::unique_ptr<drv::Driver> Driver;
  std::int32_t BufferSize = 0;  // samples per half (bits per channel in 1-bit format)
  std::array<drv::BufferInfo, kBufferInfoCount> BufferInfos{};
};

DriverSession& S(PlayRequest& r) { return static_cast<DriverSession&>(*r.Session); }

std::u16string_view DriverName(const PlayRequest& r) {
  return r.Device.size() >= kPrefixUnits ? std::u16string_view(r.Device).substr(kPrefixUnits)
                                         : std::u16string_view();
}

// Bytes a text value takes in the registry, its terminator included.
std::size_t ValueBytes(const std::u16string& text) { return (text.size() + 1) * 2; }

// Reads the text value `name` of the open subkey when it fits the value buffer.
bool ReadValue(drv::Subkey& key, std::u16string_view name, std::u16string* value) {
  return key.QueryValue(name, value) && ValueBytes(*value) <= kValueBytes;
}

// The sample rate of the track as it is now in the Buffer slot.
std::uint32_t TrackRate(const PlayRequest& r) {
  if (const dsp::AudioBuffer* a = r.Buffer.Get<dsp::AudioBuffer>()) return a->sampleRate;
  if (const dsp::DsdBuffer* d = r.Buffer.Get<dsp::DsdBuffer>()) return d->dsdRate;
  if (const dsp::PcmBuffer* p = r.Buffer.Get<dsp::PcmBuffer>()) return p->sampleRate;
  return 0;
}

bool SwitchFormat(PlayRequest& r, bool dsd) {
  drv::IoFormat format;
  format.formatType = dsd ? drv::kASIODSDFormat : drv::kASIOPCMFormat;
  return S(r).Driver->future(drv::kAsioSetIoFormat, &format) == drv::kAseSuccess;
}

bool SetRate(PlayRequest& r, std::uint32_t rate) {
  return S(r).Driver->setSampleRate(static_cast<double>(rate)) == drv::kAseOk;
}

void Choose(PlayRequest& r, bool dsd, std::uint32_t rate) {
  r.DriverOutput.NativeDsd = dsd ? 1 : 0;
  r.DriverOutput.DriverRate = rate;
}

Result RefuseFuture(const PlayRequest& r) {
  ShowStatus(r, res::kErrFutureFailed);
  return Fail(r, kErrFuture);
}

Result RefuseFormat(const PlayRequest& r) {
  ShowStatus(r, res::kErrUnsupportedAudioFormat);
  return Fail(r, kErrAudioFormat);
}

// PCM format at the first ladder rate the driver takes, fastest first.
Result ChooseLadderRate(PlayRequest& r) {
  if (!SwitchFormat(r, false)) return RefuseFuture(r);
  for (std::uint32_t rate : platform::kRateLadder) {
    if (SetRate(r, rate)) {
      Choose(r, false, rate);
      return kOk;
    }
  }
  return RefuseFormat(r);
}

// "Auto": a 1-bit track without volume assist natively at its own rate, a PCM track at its own
// rate, and otherwise (or when the driver refuses) the ladder.
Result ChooseAutoRate(PlayRequest& r) {
  const std::uint32_t rate = TrackRate(r);
  if (r.IsDsd != 0) {
    if (r.App->VolumeAssist.Load() == context::kAssistNone && SwitchFormat(r, true) &&
        SetRate(r, rate)) {
      Choose(r, true, rate);
      return kOk;
    }
    return ChooseLadderRate(r);
  }
  if (!SwitchFormat(r, false)) return RefuseFuture(r);
  if (SetRate(r, rate)) {
    Choose(r, false, rate);
    return kOk;
  }
  return ChooseLadderRate(r);
}

Result ChooseRate(PlayRequest& r) {
  if (IsAutoRate(r.Rate)) return ChooseAutoRate(r);
  if (r.Rate.starts_with(u'D')) {
    const std::uint32_t dsdRate = DriverDsdRateOf(r.Rate);
    if (dsdRate == 0) {
      ShowStatus(r, res::kErrInternalError);
      return Fail(r, kErrRateChoice);
    }
    if (!SwitchFormat(r, true) || !SetRate(r, dsdRate)) return RefuseFormat(r);
    Choose(r, true, dsdRate);
    return kOk;
  }
  const std::uint32_t rate = ReadDecimal(r.Rate);
  if (!SwitchFormat(r, false)) return RefuseFuture(r);
  if (!SetRate(r, rate)) return RefuseFormat(r);
  Choose(r, false, rate);
  return kOk;
}

// The sample type of output channel 0 decides the widths and the byte order.
Result ReadSampleType(PlayRequest& r) {
  drv::ChannelInfo info;
  info.channel = 0;
  info.isInput = false;
  if (S(r).Driver->getChannelInfo(&info) != drv::kAseOk) {
    ShowStatus(r, res::kErrGetChannelInfoFailed);
    return Fail(r, kErrChannelInfo);
  }
  const std::optional<DriverSampleFormat> format =
      DriverSampleFormatOf(info.type, r.DriverOutput.NativeDsd != 0);
  if (!format) {
    ShowStatus(r, res::kErrUnsupportedFormat);
    return Fail(r, kErrSampleType);
  }
  r.DriverOutput.ValidBits = format->validBits;
  r.DriverOutput.ContainerBits = format->containerBits;
  r.DriverOutput.ByteOrderFlag = format->byteOrderFlag;
  return kOk;
}

bool NativeDsd(const PlayRequest& r) { return r.DriverOutput.NativeDsd != 0; }

// What one half of one channel holds: frames of PCM, or bytes of 1-bit data.
std::uint32_t HalfUnits(PlayRequest& r) {
  const auto size = static_cast<std::uint32_t>(S(r).BufferSize);
  return NativeDsd(r) ? size / kBitsPerByte : size;
}

std::size_t HalfBytes(PlayRequest& r) {
  const std::size_t sampleBytes = NativeDsd(r) ? 1 : r.DriverOutput.ContainerBits / kBitsPerByte;
  return HalfUnits(r) * sampleBytes;
}

std::uint8_t IdleByte(const PlayRequest& r) { return NativeDsd(r) ? engine::kDsdIdleByte : 0; }

std::uint8_t* HalfOf(PlayRequest& r, int channel, std::uint32_t half) {
  return static_cast<std::uint8_t*>(
      S(r).BufferInfos[static_cast<std::size_t>(channel)].buffers[half]);
}

// Silence into half `half` of both channels.
void ClearHalf(PlayRequest& r, std::uint32_t half) {
  for (int channel = 0; channel < kOutputChannels; ++channel) {
    std::memset(HalfOf(r, channel, half), IdleByte(r), HalfBytes(r));
  }
}

// The half AsioHalf names, read after the wait that the driver's switch ended.
std::uint32_t HalfToFill() { return engine::AsioHalf().load(std::memory_order_acquire) & 1U; }

// The filled half goes to the driver; the event is reset first so that the next switch, which
// may come at once, is not lost.
void HandOver(PlayRequest& r) {
  engine::PlaybackEvent()->Reset();
  (void)S(r).Driver->outputReady();
}

// Splits `frames` interleaved frames of two `SampleBytes`-byte samples into the two channels.
template <std::size_t SampleBytes>
void SplitFrames(const std::uint8_t* source, std::uint32_t frames, std::uint8_t* left,
                 std::uint8_t* right) {
  for (std::uint32_t f = 0; f < frames; ++f) {
    std::memcpy(left + f * SampleBytes, source, SampleBytes);
    std::memcpy(right + f * SampleBytes, source + SampleBytes, SampleBytes);
    source += 2 * SampleBytes;
  }
}

void Split(const std::uint8_t* source, std::uint32_t frames, std::size_t sampleBytes,
           std::uint8_t* left, std::uint8_t* right) {
  switch (sampleBytes) {
    case 1:
      return SplitFrames<1>(source, frames, left, right);
    case 2:
      return SplitFrames<2>(source, frames, left, right);
    case 3:
      return SplitFrames<3>(source, frames, left, right);
    default:
      return SplitFrames<4>(source, frames, left, right);
  }
}

engine::DecodeLineOutput LineOutput(const PlayRequest& r) {
  engine::DecodeLineOutput out;
  out.kind = NativeDsd(r) ? engine::DecodeLineOutput::kNativeDsd : engine::DecodeLineOutput::kPcm;
  out.validBits = r.DriverOutput.ValidBits;
  out.containerBits = r.DriverOutput.ContainerBits;
  out.rate = r.DriverOutput.DriverRate;
  return out;
}

// Step 14: the drivers' key. A machine without one fails without a text.
Result OpenDriverKey(PlayRequest& r) {
  ShowStatus(r, res::kStatusPreparingDevice);
  try {
    r.Session = std::make_unique<DriverSession>();
  } catch (const std::bad_alloc&) {
    ShowStatus(r, res::kErrOutOfMemory);
    return Fail(r, kErrSessionMemory);
  }
  ScopeExit endSession([&] { r.Session.reset(); });
  drv::DriverRegistry* registry = r.App->Services != nullptr ? r.App->Services->drivers : nullptr;
  if (registry != nullptr) S(r).AsioKey = registry->OpenDriversKey();
  if (!S(r).AsioKey) return Fail(r, kErrNoKey);
  ScopeExit close([&] { S(r).AsioKey.reset(); });
  return StepMachine(r, Step::kFindDriver);
}

// Step 15: the first subkey whose description is the device's name, ignoring letter case.
Result FindDriver(PlayRequest& r) {
  DriverSession& s = S(r);
  for (std::uint32_t index = 0;; ++index) {
    if (!s.AsioKey->EnumKey(index, &s.SubkeyName)) {
      ShowStatus(r, res::kErrDeviceNotFound);
      return Fail(r, kErrNotFound);
    }
    if (s.SubkeyName.size() > kLongestName) continue;
    s.Subkey = s.AsioKey->OpenKey(s.SubkeyName);
    if (!s.Subkey) continue;
    ScopeExit close([&] { s.Subkey.reset(); });
    std::optional<drv::ClassId> clsid;
    if (!ReadValue(*s.Subkey, u"CLSID", &s.ClsidText) ||
        !(clsid = drv::ClassIdFromString(s.ClsidText)) ||
        !ReadValue(*s.Subkey, u"description", &s.Description)) {
      continue;
    }
    s.Clsid = *clsid;
    if (ValueBytes(s.Description) + 1 < kValueBytes &&
        platform::EqualNoCase(s.Description, DriverName(r))) {
      return StepMachine(r, Step::kCreateDriver);
    }
  }
}

// Step 16: the driver object.
Result CreateDriver(PlayRequest& r) {
  ShowStatus(r, res::kStatusCoCreateInstance);
  S(r).Driver = r.App->Services->drivers->CreateInstance(S(r).Clsid);
  if (!S(r).Driver) {
    ShowStatus(r, res::kErrCoCreateInstance);
    return Fail(r, kErrCreate);
  }
  ScopeExit release([&] { S(r).Driver.reset(); });
  return StepMachine(r, Step::kChooseDriverFormat);
}

// Step 17: probe, init, rate, buffers and sample type; the buffers are disposed of afterwards.
Result ChooseDriverFormat(PlayRequest& r, const DriverProbe& probe) {
  ShowStatus(r, res::kStatusSelectingFormat);
  DriverSession& s = S(r);
  if (!probe || probe(*r.App, DriverName(r)) != kOk) {
    ShowStatus(r, res::kErrDeviceNotAvailable);
    return Fail(r, kErrNotAvailable);
  }
  if (s.Driver->init(nullptr) != drv::kInitSucceeded) {
    ShowStatus(r, res::kErrInitFailed);
    return Fail(r, kErrInit);
  }
  r.DriverOutput = {};
  if (const Result chosen = ChooseRate(r); chosen != kOk) return chosen;
  std::int32_t minSize = 0;
  std::int32_t maxSize = 0;
  std::int32_t preferred = 0;
  std::int32_t granularity = 0;
  if (s.Driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity) != drv::kAseOk) {
    ShowStatus(r, res::kErrDriverGetBufferSizeFailed);
    return Fail(r, kErrBufferSize);
  }
  s.BufferSize = DriverBufferSize(r.DriverOutput.DriverRate, minSize, maxSize);
  s.BufferInfos = {};
  s.BufferInfos[1].channelNum = 1;
  if (s.Driver->createBuffers(s.BufferInfos.data(), kOutputChannels, s.BufferSize,
                              &DriverCallbacks()) != drv::kAseOk) {
    ShowStatus(r, res::kErrCreateBuffersFailed);
    return Fail(r, kErrCreateBuffers);
  }
  ScopeExit dispose([&] { (void)s.Driver->disposeBuffers(); });
  if (const Result typed = ReadSampleType(r); typed != kOk) return typed;
  return StepMachine(r, Step::kRaisePriority);
}

// Step 28: both halves silent, then the driver runs until the lead-in and the feeding are done.
Result StartDriver(PlayRequest& r) {
  engine::SetStartOffsets(r);
  ClearHalf(r, 0);
  ClearHalf(r, 1);
  if (S(r).Driver->start() != drv::kAseOk) {
    ShowStatus(r, res::kErrDriverStartFailed);
    return Fail(r, kErrStart);
  }
  ScopeExit stop([&] { (void)S(r).Driver->stop(); });
  return StepMachine(r, Step::kPlayDriverLeadIn);
}

// Step 29: about three seconds of silence, then the playing look around the feeding.
Result PlayDriverLeadIn(PlayRequest& r) {
  ShowStatus(r, res::kStatusStarting);
  const engine::OutputView view = engine::ViewOf(r.Buffer);
  if (view.frameBytes == 0) return Fail(r, kErrNoOutput);
  std::uint64_t leadIn = std::uint64_t{platform::kLeadInSeconds} * r.DriverOutput.DriverRate;
  if (NativeDsd(r)) leadIn /= kBitsPerByte;
  for (std::uint64_t halves = platform::LeadInHalves(leadIn, HalfUnits(r)); halves > 0; --halves) {
    if (r.App->PlayCommand.Load() != context::kCommandNone) return Fail(r, kErrStopped);
    if (const Result waited = engine::WaitForDevice(r); waited != kOk) return waited;
    ClearHalf(r, HalfToFill());
    HandOver(r);
  }
  return engine::RunPlayingLook(r, view, engine::DecodeLine(r, LineOutput(r)),
                                [&] { return StepMachine(r, Step::kFeedDriver); });
}

// Step 30: each pass copies one half's worth of output frames and splits every frame into its
// left and right sample (a byte pair of 1-bit data into its two bytes).
Result FeedDriver(PlayRequest& r) {
  const engine::OutputView view = engine::ViewOf(r.Buffer);
  const std::uint32_t frames = HalfUnits(r);
  const std::size_t sampleBytes = view.frameBytes / kOutputChannels;
  std::vector<std::uint8_t> pass;
  try {
    pass.resize(static_cast<std::size_t>(frames) * view.frameBytes);
  } catch (const std::bad_alloc&) {
    ShowStatus(r, res::kErrOutOfMemory);
    return Fail(r, kErrPassMemory);
  }
  engine::Feeder feeder(r, view, pass.size(), false, IdleByte(r));
  for (;;) {
    Result failure = kOk;
    switch (feeder.Begin(&failure)) {
      case engine::Feeder::Pass::kLeave:
        return kOk;
      case engine::Feeder::Pass::kFail:
        return failure;
      case engine::Feeder::Pass::kCopy:
        break;
    }
    feeder.Copy(pass.data(), frames);
    const std::uint32_t half = HalfToFill();
    Split(pass.data(), frames, sampleBytes, HalfOf(r, 0, half), HalfOf(r, 1, half));
    HandOver(r);
  }
}

}  // namespace

context::FamilySteps DriverFamilySteps(DriverProbe probe) {
  context::FamilySteps family = context::StepTable{}.Family(context::DeviceFamily::kDriver);
  auto& h = family.handlers;
  h[context::Number(Step::kOpenDriverKey)] = OpenDriverKey;
  h[context::Number(Step::kFindDriver)] = FindDriver;
  h[context::Number(Step::kCreateDriver)] = CreateDriver;
  h[context::Number(Step::kChooseDriverFormat)] = [probe = std::move(probe)](PlayRequest& r) {
    return ChooseDriverFormat(r, probe);
  };
  h[context::Number(Step::kPrepareDriverOutput)] = engine::PrepareDriverOutput;
  h[context::Number(Step::kStartDriver)] = StartDriver;
  h[context::Number(Step::kPlayDriverLeadIn)] = PlayDriverLeadIn;
  h[context::Number(Step::kFeedDriver)] = FeedDriver;
  return family;
}

}  // namespace lumaro::output
