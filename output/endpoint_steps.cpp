#include "output/endpoint_steps.h"

#include <cmath>
#include <optional>

#include "engine/feeding.h"
#include "engine/playback_event.h"
#include "engine/step_machine.h"
#include "engine/track_preparation.h"
#include "output/endpoint_format.h"
#include "platform/failure.h"
#include "platform/scope_exit.h"
#include "resources/status_texts.h"

namespace lumaro::output {
namespace {

namespace ep = platform::endpoint;
namespace res = resources;
using context::PlayRequest;
using context::Step;
using engine::ShowStatus;
using engine::StepMachine;
using platform::ScopeExit;

enum : Result {
  kErrCreate = FirstCode(FailureSite::kEndpointSteps),
  kErrEnumerate,
  kErrCount,
  kErrNotFound,
  kErrActivate,
  kErrIsFormatSupported,
  kErrSampleRate,
  kErrAudioFormat,
  kErrInitialize,
  kErrBufferSize,
  kErrSetEvent,
  kErrService,
  kErrGetBuffer,
  kErrStart,
  kErrPadding,
  kErrStopped,
  kErrNoOutput,
  kErrSessionMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kEndpointSteps,
    kErrSessionMemory,
    {"CreateEnumerator failed", "EnumAudioEndpoints failed", "GetCount failed", "device not found",
     "Activate failed", "IsFormatSupported failed", "shared-mode rate out of range",
     "audio format not supported", "Initialize failed", "GetBufferSize failed",
     "SetEventHandle failed", "GetService failed", "GetBuffer failed", "Start failed",
     "GetCurrentPadding failed", "device feeding stopped", "no output frames",
     "no memory for the device session"}};

// Notes one of this file's failures; answers its code.
Result Fail(const context::PlayRequest& r, Result code) noexcept {
  return kFailures.Note(code, r.Device);
}

constexpr std::int64_t kBufferDuration = 2'000'000;  // 200 ms in 100-ns units
constexpr double kHundredNanosecondsPerSecond = 10'000'000.0;
constexpr std::uint32_t kSharedFlags = ep::kStreamFlagsEventCallback | ep::kStreamFlagsNoPersist;

// The endpoint family's objects of one track, released in reverse order by the steps that made
// them.
struct EndpointSession final : context::DeviceSession {
  std::unique_ptr<ep::Enumerator> Enumerator;
  std::unique_ptr<ep::EndpointCollection> Endpoints;
  std::unique_ptr<ep::Endpoint> Endpoint;
  std::unique_ptr<ep::AudioClient> AudioClient;
  std::unique_ptr<ep::RenderClient> RenderClient;
  std::uint32_t BufferFrames = 0;  // the endpoint buffer in frames
};

// The session step 10 made; every later endpoint step runs inside it.
EndpointSession& S(PlayRequest& r) { return static_cast<EndpointSession&>(*r.Session); }

ep::ShareMode ModeOf(const PlayRequest& r) {
  return PlaysShared(r) ? ep::ShareMode::kShared : ep::ShareMode::kExclusive;
}

// Asks the client for `format` in exclusive mode; on acceptance it becomes the request's format.
bool TryExclusive(PlayRequest& r, const ep::WaveFormat& format) {
  std::optional<ep::WaveFormat> closest;
  if (S(r).AudioClient->IsFormatSupported(ep::ShareMode::kExclusive, format, &closest) !=
      ep::kSOk) {
    return false;
  }
  r.WaveFormat = format;
  return true;
}

bool TryPcm(PlayRequest& r, std::uint32_t rate) {
  for (const PcmCandidate& c : kPcmCandidates) {
    if (TryExclusive(r,
                     ep::MakeWaveFormat(ep::SubFormat::kPcm, rate, c.containerBits, c.validBits))) {
      return true;
    }
  }
  return false;
}

bool TryDop(PlayRequest& r, std::uint32_t dopRate) {
  for (std::uint16_t container : kDopContainers) {
    if (TryExclusive(r,
                     ep::MakeWaveFormat(ep::SubFormat::kPcm, dopRate, container, kDopValidBits))) {
      return true;
    }
  }
  return false;
}

// The sample rate of the track as it is now in the Buffer slot.
std::uint32_t BufferRate(const PlayRequest& r) {
  if (const dsp::AudioBuffer* a = r.Buffer.Get<dsp::AudioBuffer>()) return a->sampleRate;
  if (const dsp::DsdBuffer* d = r.Buffer.Get<dsp::DsdBuffer>()) return d->dsdRate;
  if (const dsp::PcmBuffer* p = r.Buffer.Get<dsp::PcmBuffer>()) return p->sampleRate;
  return 0;
}

// "Share": the mix format at the track's rate (as float, at most 384 kHz), or the device's
// closest match.
Result ChooseSharedFormat(PlayRequest& r) {
  if (const Result converted = engine::ConvertDsdToFloat(r); converted != kOk) return converted;
  if (BufferRate(r) > kSharedMaxRate) {
    if (const Result resampled = engine::ResampleTo(r, kSharedMaxRate); resampled != kOk) {
      return resampled;
    }
  }
  r.WaveFormat = ep::MakeWaveFormat(ep::SubFormat::kIeeeFloat, BufferRate(r), kSharedFloatBits,
                                    kSharedFloatBits);
  std::optional<ep::WaveFormat> closest;
  ep::HResult answer =
      S(r).AudioClient->IsFormatSupported(ep::ShareMode::kShared, r.WaveFormat, &closest);
  if (answer == ep::kSFalse && closest) {
    const std::uint32_t rate = closest->samplesPerSec;
    if (rate < kSharedMinRate || rate > kSharedMaxRate) {
      ShowStatus(r, res::kErrUnsupportedSampleRate);
      return Fail(r, kErrSampleRate);
    }
    r.WaveFormat =
        ep::MakeWaveFormat(ep::SubFormat::kIeeeFloat, rate, kSharedFloatBits, kSharedFloatBits);
    answer = S(r).AudioClient->IsFormatSupported(ep::ShareMode::kShared, r.WaveFormat, &closest);
  }
  if (answer != ep::kSOk) {
    ShowStatus(r, res::kErrIsFormatSupported);
    return Fail(r, kErrIsFormatSupported);
  }
  r.DopOutput = 0;
  return StepMachine(r, Step::kRaisePriority);
}

// "Auto": DoP for a DSD track without volume assist, then the track's own rate, then the ladder.
Result ChooseAutoFormat(PlayRequest& r) {
  if (r.IsDsd != 0 && r.App->VolumeAssist.Load() == context::kAssistNone) {
    for (std::uint32_t dopRate : kDopRates) {
      if (static_cast<std::uint64_t>(dopRate) * kDopBitsPerFrame != r.DecodedRate) continue;
      if (TryDop(r, dopRate)) {
        r.DopOutput = 1;
        return StepMachine(r, Step::kRaisePriority);
      }
    }
  }
  bool found = r.IsDsd == 0 && TryPcm(r, BufferRate(r));
  for (std::size_t i = 0; !found && i < std::size(kRateLadder); ++i)
    found = TryPcm(r, kRateLadder[i]);
  if (!found) {
    ShowStatus(r, res::kErrUnsupportedAudioFormat);
    return Fail(r, kErrAudioFormat);
  }
  r.DopOutput = 0;
  return StepMachine(r, Step::kRaisePriority);
}

// Releases the current client and activates a new one on the endpoint.
Result ReactivateClient(PlayRequest& r) {
  S(r).AudioClient.reset();
  if (ep::Failed(S(r).Endpoint->Activate(&S(r).AudioClient)) || !S(r).AudioClient) {
    S(r).AudioClient.reset();
    ShowStatus(r, res::kErrActivateFailed);
    return Fail(r, kErrActivate);
  }
  return kOk;
}

// The frames of one device buffer to fill now: all of it in exclusive mode, what the device has
// room for in shared mode.
Result FramesToFill(PlayRequest& r, std::uint32_t* frames) {
  if (!PlaysShared(r)) {
    *frames = S(r).BufferFrames;
    return kOk;
  }
  std::uint32_t padding = 0;
  if (ep::Failed(S(r).AudioClient->GetCurrentPadding(&padding))) {
    ShowStatus(r, res::kErrGetCurrentPadding);
    return Fail(r, kErrPadding);
  }
  *frames = padding < S(r).BufferFrames ? S(r).BufferFrames - padding : 0;
  return kOk;
}

// Gets `frames` of the device buffer, lets `fill` write them, and gives them to the device.
template <class Fill>
Result RenderFrames(PlayRequest& r, std::uint32_t frames, Fill&& fill) {
  std::uint8_t* data = nullptr;
  if (ep::Failed(S(r).RenderClient->GetBuffer(frames, &data))) {
    ShowStatus(r, res::kErrGetBufferFailed);
    return Fail(r, kErrGetBuffer);
  }
  fill(data, frames);
  (void)S(r).RenderClient->ReleaseBuffer(frames);
  return kOk;
}

// Silence of the request's format: zero bytes, or the DoP idle pattern from marker 0x05.
void FillDeviceSilence(const PlayRequest& r, std::uint8_t* data, std::uint32_t frames) {
  engine::FillSilence(data, frames, r.WaveFormat.blockAlign, r.DopOutput != 0,
                      engine::kDopMarkerFirst);
}

engine::DecodeLineOutput LineOutput(const PlayRequest& r) {
  engine::DecodeLineOutput out;
  out.kind = PlaysShared(r)     ? engine::DecodeLineOutput::kShared
             : r.DopOutput != 0 ? engine::DecodeLineOutput::kDop
                                : engine::DecodeLineOutput::kPcm;
  out.validBits = r.WaveFormat.validBitsPerSample;
  out.containerBits = r.WaveFormat.bitsPerSample;
  out.rate = r.WaveFormat.samplesPerSec;
  return out;
}

}  // namespace

context::FamilySteps EndpointFamilySteps() {
  context::FamilySteps family = context::StepTable{}.Family(context::DeviceFamily::kEndpoint);
  auto& h = family.handlers;
  h[context::Number(Step::kCreateEndpointEnumerator)] = CreateEndpointEnumerator;
  h[context::Number(Step::kFindEndpoint)] = FindEndpoint;
  h[context::Number(Step::kActivateEndpoint)] = ActivateEndpoint;
  h[context::Number(Step::kChooseEndpointFormat)] = ChooseEndpointFormat;
  h[context::Number(Step::kPrepareEndpointOutput)] = engine::PrepareEndpointOutput;
  h[context::Number(Step::kInitializeEndpoint)] = InitializeEndpoint;
  h[context::Number(Step::kPrepareRendering)] = PrepareRendering;
  h[context::Number(Step::kStartEndpoint)] = StartEndpoint;
  h[context::Number(Step::kPlayEndpointLeadIn)] = PlayEndpointLeadIn;
  h[context::Number(Step::kFeedEndpoint)] = FeedEndpoint;
  return family;
}

bool PlaysShared(const PlayRequest& r) { return IsShareRate(r.Rate); }

Result CreateEndpointEnumerator(PlayRequest& r) {
  ShowStatus(r, res::kStatusCoCreateInstance);
  try {
    r.Session = std::make_unique<EndpointSession>();
  } catch (const std::bad_alloc&) {
    ShowStatus(r, res::kErrOutOfMemory);
    return Fail(r, kErrSessionMemory);
  }
  ScopeExit endSession([&] { r.Session.reset(); });
  ep::EndpointSystem* system = r.App->Services != nullptr ? r.App->Services->endpoints : nullptr;
  if (system == nullptr || ep::Failed(system->CreateEnumerator(&S(r).Enumerator)) ||
      !S(r).Enumerator) {
    S(r).Enumerator.reset();
    ShowStatus(r, res::kErrCoCreateInstanceFailed);
    return Fail(r, kErrCreate);
  }
  ScopeExit release([&] { S(r).Enumerator.reset(); });
  return StepMachine(r, Step::kFindEndpoint);
}

Result FindEndpoint(PlayRequest& r) {
  ShowStatus(r, res::kStatusCreatingEndPoint);
  if (ep::Failed(S(r).Enumerator->EnumAudioEndpoints(&S(r).Endpoints)) || !S(r).Endpoints) {
    S(r).Endpoints.reset();
    ShowStatus(r, res::kErrEnumAudioEndpointsFailed);
    return Fail(r, kErrEnumerate);
  }
  ScopeExit release([&] { S(r).Endpoints.reset(); });
  std::uint32_t count = 0;
  if (ep::Failed(S(r).Endpoints->GetCount(&count))) {
    ShowStatus(r, res::kErrGetCountFailed);
    return Fail(r, kErrCount);
  }
  const std::u16string_view wanted =
      r.Device.size() >= context::kEndpointPrefix.size()
          ? std::u16string_view(r.Device).substr(context::kEndpointPrefix.size())
          : u"";
  for (std::uint32_t i = 0; i < count; ++i) {
    std::unique_ptr<ep::Endpoint> endpoint;
    if (ep::Failed(S(r).Endpoints->Item(i, &endpoint)) || !endpoint) continue;
    std::u16string name;
    if (ep::Failed(endpoint->GetFriendlyName(&name)) || name != wanted) continue;
    S(r).Endpoint = std::move(endpoint);
    ScopeExit releaseEndpoint([&] { S(r).Endpoint.reset(); });
    return StepMachine(r, Step::kActivateEndpoint);
  }
  ShowStatus(r, res::kErrDeviceNotFound);
  return Fail(r, kErrNotFound);
}

Result ActivateEndpoint(PlayRequest& r) {
  ShowStatus(r, res::kStatusActivatingDevice);
  if (ep::Failed(S(r).Endpoint->Activate(&S(r).AudioClient)) || !S(r).AudioClient) {
    S(r).AudioClient.reset();
    ShowStatus(r, res::kErrActivateFailed);
    return Fail(r, kErrActivate);
  }
  ScopeExit release([&] { S(r).AudioClient.reset(); });
  return StepMachine(r, Step::kChooseEndpointFormat);
}

Result ChooseEndpointFormat(PlayRequest& r) {
  ShowStatus(r, res::kStatusSelectingFormat);
  if (IsShareRate(r.Rate)) return ChooseSharedFormat(r);
  if (IsAutoRate(r.Rate)) return ChooseAutoFormat(r);
  if (r.Rate.starts_with(u'D')) {
    if (!TryDop(r, DopRateOf(r.Rate))) {
      ShowStatus(r, res::kErrUnsupportedAudioFormat);
      return Fail(r, kErrAudioFormat);
    }
    r.DopOutput = 1;
    return StepMachine(r, Step::kRaisePriority);
  }
  if (!TryPcm(r, ReadDecimal(r.Rate))) {
    ShowStatus(r, res::kErrUnsupportedAudioFormat);
    return Fail(r, kErrAudioFormat);
  }
  r.DopOutput = 0;
  return StepMachine(r, Step::kRaisePriority);
}

Result InitializeEndpoint(PlayRequest& r) {
  ShowStatus(r, res::kStatusDeviceInitializing);
  const ep::ShareMode mode = ModeOf(r);
  const std::int64_t periodicity = mode == ep::ShareMode::kShared ? 0 : kBufferDuration;
  ep::HResult answer =
      S(r).AudioClient->Initialize(mode, kSharedFlags, kBufferDuration, periodicity, r.WaveFormat);
  if (mode == ep::ShareMode::kExclusive && answer == ep::kBufferSizeNotAligned) {
    std::uint32_t frames = 0;
    if (ep::Failed(S(r).AudioClient->GetBufferSize(&frames))) {
      ShowStatus(r, res::kErrGetBufferSizeFailed);
      return Fail(r, kErrBufferSize);
    }
    if (const Result reactivated = ReactivateClient(r); reactivated != kOk) return reactivated;
    const auto aligned = static_cast<std::int64_t>(
        std::floor(kHundredNanosecondsPerSecond / r.WaveFormat.samplesPerSec * frames + 0.5));
    answer = S(r).AudioClient->Initialize(mode, ep::kStreamFlagsEventCallback, aligned, aligned,
                                          r.WaveFormat);
  }
  if (ep::Failed(answer)) {
    ShowStatus(r, res::kErrInitializeFailed);
    return Fail(r, kErrInitialize);
  }
  return StepMachine(r, Step::kCreatePlaybackEvent);
}

Result PrepareRendering(PlayRequest& r) {
  if (ep::Failed(S(r).AudioClient->SetEventHandle(engine::PlaybackEvent()))) {
    ShowStatus(r, res::kErrSetEventHandleFailed);
    return Fail(r, kErrSetEvent);
  }
  if (ep::Failed(S(r).AudioClient->GetBufferSize(&S(r).BufferFrames))) {
    ShowStatus(r, res::kErrGetBufferSizeFailed);
    return Fail(r, kErrBufferSize);
  }
  if (ep::Failed(S(r).AudioClient->GetService(&S(r).RenderClient)) || !S(r).RenderClient) {
    S(r).RenderClient.reset();
    ShowStatus(r, res::kErrGetServiceFailed);
    return Fail(r, kErrService);
  }
  ScopeExit release([&] { S(r).RenderClient.reset(); });
  return StepMachine(r, Step::kStartEndpoint);
}

Result StartEndpoint(PlayRequest& r) {
  engine::SetStartOffsets(r);
  const Result filled =
      RenderFrames(r, S(r).BufferFrames,
                   [&](std::uint8_t* data, std::uint32_t n) { FillDeviceSilence(r, data, n); });
  if (filled != kOk) return filled;
  if (ep::Failed(S(r).AudioClient->Start())) {
    ShowStatus(r, res::kErrStartFailed);
    return Fail(r, kErrStart);
  }
  ScopeExit stop([&] { (void)S(r).AudioClient->Stop(); });
  return StepMachine(r, Step::kPlayEndpointLeadIn);
}

Result PlayEndpointLeadIn(PlayRequest& r) {
  ShowStatus(r, res::kStatusStarting);
  const engine::OutputView view = engine::ViewOf(r.Buffer);
  if (view.frameBytes == 0) return Fail(r, kErrNoOutput);
  const dsp::PcmBuffer* output = r.Buffer.Get<dsp::PcmBuffer>();
  const std::uint64_t target =
      output != nullptr ? std::uint64_t{platform::kLeadInSeconds} * output->sampleRate : 0;
  for (std::uint64_t written = 0; written < target;) {
    if (r.App->PlayCommand.Load() != context::kCommandNone) return Fail(r, kErrStopped);
    if (const Result waited = engine::WaitForDevice(r); waited != kOk) return waited;
    std::uint32_t frames = 0;
    if (const Result room = FramesToFill(r, &frames); room != kOk) return room;
    const Result filled = RenderFrames(
        r, frames, [&](std::uint8_t* data, std::uint32_t n) { FillDeviceSilence(r, data, n); });
    if (filled != kOk) return filled;
    written += frames;
  }
  return engine::RunPlayingLook(r, view, engine::DecodeLine(r, LineOutput(r)),
                                [&] { return StepMachine(r, Step::kFeedEndpoint); });
}

Result FeedEndpoint(PlayRequest& r) {
  const engine::OutputView view = engine::ViewOf(r.Buffer);
  const std::uint64_t bufferBytes = static_cast<std::uint64_t>(S(r).BufferFrames) * view.frameBytes;
  engine::Feeder feeder(r, view, bufferBytes, r.DopOutput != 0);
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
    std::uint32_t frames = 0;
    if (const Result room = FramesToFill(r, &frames); room != kOk) return room;
    const Result fed =
        RenderFrames(r, frames, [&](std::uint8_t* data, std::uint32_t n) { feeder.Copy(data, n); });
    if (fed != kOk) return fed;
  }
}

}  // namespace lumaro::output
