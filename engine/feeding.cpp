#include "engine/feeding.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/playback_event.h"
#include "engine/step_machine.h"
#include "platform/failure.h"
#include "resources/control_ids.h"
#include "resources/status_texts.h"

namespace lumaro::engine {
namespace {

namespace res = resources;

enum : Result { kErrNoEvent = FirstCode(FailureSite::kFeeding), kErrWaitFailed };
constexpr platform::FailureNames kFailures{
    FailureSite::kFeeding, kErrWaitFailed, {"no PlaybackEvent", "device wait failed"}};

constexpr std::uint8_t kMarkerFlip = 0xFF;
constexpr std::uint32_t kBitsPerByte = 8;

std::u16string Widen(const char* text) {
  std::u16string out;
  for (; *text != '\0'; ++text) out.push_back(static_cast<unsigned char>(*text));
  return out;
}

}  // namespace

OutputView ViewOf(const dsp::BufferSlot& slot) {
  OutputView view;
  if (const dsp::PcmBuffer* pcm = slot.Get<dsp::PcmBuffer>()) {
    view.data = pcm->Data();
    view.frameBytes = pcm->BytesPerFrame();
    view.dataBytes = pcm->DataSize();
    view.bytesPerSecond = static_cast<std::uint64_t>(view.frameBytes) * pcm->sampleRate;
    view.totalSeconds = static_cast<std::uint32_t>(pcm->frameCount / pcm->sampleRate);
  } else if (const dsp::DsdBuffer* dsd = slot.Get<dsp::DsdBuffer>()) {
    view.data = dsd->Data();
    view.frameBytes = 2;
    view.dataBytes = dsd->length * 2;
    view.bytesPerSecond = static_cast<std::uint64_t>(dsd->dsdRate / kBitsPerByte) * 2;
    view.totalSeconds = static_cast<std::uint32_t>(dsd->length * kBitsPerByte / dsd->dsdRate);
  }
  return view;
}

// The decode line's texts: with the decoder's float variant first, then the integer one.
constexpr const char* kDecodeShared[] = {"Decode: %dbit float %dHz - Out: 32/32bit float %dHz",
                                         "Decode: %dbit %dHz - Out: 32/32bit float %dHz"};
constexpr const char* kDecodePcm[] = {"Decode: %dbit float %dHz - Out: %d/%dbit %dHz",
                                      "Decode: %dbit %dHz - Out: %d/%dbit %dHz"};
constexpr const char* kDecodeDop[] = {"Decode: %dbit float %dHz - Out: %d/%dbit %dHz DoP",
                                      "Decode: %dbit %dHz - Out: %d/%dbit %dHz DoP"};
constexpr const char* kDecodeDsd[] = {"Decode: %dbit float %dHz - Out: 1bit %dHz DSD",
                                      "Decode: %dbit %dHz - Out: 1bit %dHz DSD"};

std::u16string DecodeLine(const context::PlayRequest& r, const DecodeLineOutput& out) {
  const int variant = r.DecodedKind == context::kKindFloat ? 0 : 1;
  const int bits = static_cast<int>(r.DecodedBits);
  const int rate = static_cast<int>(r.DecodedRate);
  const int valid = static_cast<int>(out.validBits);
  const int container = static_cast<int>(out.containerBits);
  const int outRate = static_cast<int>(out.rate);
  char text[160];
  switch (out.kind) {
    case DecodeLineOutput::kShared:
      std::snprintf(text, sizeof text, kDecodeShared[variant], bits, rate, outRate);
      break;
    case DecodeLineOutput::kPcm:
      std::snprintf(text, sizeof text, kDecodePcm[variant], bits, rate, valid, container, outRate);
      break;
    case DecodeLineOutput::kDop:
      std::snprintf(text, sizeof text, kDecodeDop[variant], bits, rate, valid, container, outRate);
      break;
    case DecodeLineOutput::kNativeDsd:
      std::snprintf(text, sizeof text, kDecodeDsd[variant], bits, rate, outRate);
      break;
  }
  return Widen(text);
}

Result WaitForDevice(const context::PlayRequest& r) {
  platform::Event* event = PlaybackEvent();
  if (event == nullptr) return kFailures.Note(kErrNoEvent);
  if (r.App->Services->clock->Wait(*event, kWaitMilliseconds) == platform::WaitResult::kSignalled) {
    return kOk;
  }
  if (r.App->PlayCommand.Load() == context::kCommandNone) ShowStatus(r, res::kErrWaitFailed);
  return kFailures.Note(kErrWaitFailed);
}

void SetStartOffsets(context::PlayRequest& r) {
  if (!PlaysGapless(r)) return;
  for (std::uint32_t i = 0; i < r.TrackCount; ++i) {
    context::TrackTableEntry& entry = r.TrackTable[i];
    if (const dsp::PcmBuffer* pcm = r.Buffer.Get<dsp::PcmBuffer>()) {
      entry.StartOffset =
          static_cast<std::uint64_t>(pcm->sampleRate * entry.StartSeconds) * pcm->BytesPerFrame();
    } else if (const dsp::DsdBuffer* dsd = r.Buffer.Get<dsp::DsdBuffer>()) {
      entry.StartOffset = static_cast<std::uint64_t>(dsd->dsdRate * 0.125 * entry.StartSeconds) * 2;
    }
  }
}

Result RunPlayingLook(context::PlayRequest& r, const OutputView& view,
                      std::u16string_view decodeLine, const std::function<Result()>& feed) {
  context::AppContext& a = *r.App;
  a.ShownSecond = -1;
  a.TotalSeconds = view.totalSeconds;
  a.PositionRate = view.bytesPerSecond;
  a.Position = 0;
  platform::ui::Dialog* w = a.MainWindow.Load();
  if (w != nullptr) {
    w->ScrollSetRange(res::kIdSeekBar, 0, static_cast<int>(view.totalSeconds), false);
    w->ScrollSetPosition(res::kIdSeekBar, 0, true);
    w->Enable(res::kIdSeekBar, true);
    w->Show(res::kIdSeekBar, true);
    w->SetText(res::kIdTimeText, u"");
  }
  ShowStatus(r, decodeLine);
  if (w != nullptr) {
    w->Enable(res::kIdPlayList, true);
    w->Show(res::kIdPlayList, true);
  }
  a.PositionValid = 1;
  const Result result = feed();
  a.PositionValid = 0;
  if (w != nullptr) {
    w->Show(res::kIdSeekBar, false);
    w->Enable(res::kIdSeekBar, false);
    w->SetText(res::kIdTimeText, u"");
  }
  return result;
}

std::uint8_t FillSilence(std::uint8_t* destination, std::uint32_t frames, std::uint32_t frameBytes,
                         bool dop, std::uint8_t marker, std::uint8_t idleByte) {
  if (!dop) {
    std::memset(destination, idleByte, static_cast<std::size_t>(frames) * frameBytes);
    return marker;
  }
  const std::uint32_t sampleBytes = frameBytes / 2;  // 3 or 4
  for (std::uint32_t f = 0; f < frames; ++f) {
    std::uint8_t* frame = destination + static_cast<std::size_t>(f) * frameBytes;
    for (int channel = 0; channel < 2; ++channel) {
      std::uint8_t* sample = frame + channel * sampleBytes;
      if (sampleBytes == 4) *sample++ = 0;
      sample[0] = kDsdIdleByte;
      sample[1] = kDsdIdleByte;
      sample[2] = marker;
    }
    marker ^= kMarkerFlip;
  }
  return marker;
}

Feeder::Feeder(context::PlayRequest& request, const OutputView& view,
               std::uint64_t deviceBufferBytes, bool dop, std::uint8_t idleByte)
    : r_(request),
      app_(*request.App),
      view_(view),
      bufferBytes_(deviceBufferBytes),
      dop_(dop),
      idleByte_(idleByte),
      gapless_(PlaysGapless(request)) {}

bool Feeder::TrackEnds() const {
  return (!gapless_ && r_.TrackCount > 1) || app_.PlayOnce.Load() != 0;
}

Feeder::Pass Feeder::Begin(Result* failure) {
  const std::uint32_t command = app_.PlayCommand.Load();
  if (command == context::kCommandStop || (!gapless_ && command != context::kCommandNone)) {
    return Pass::kLeave;
  }
  if (const Result waited = WaitForDevice(r_); waited != kOk) {
    *failure = waited;
    return Pass::kFail;
  }
  if (ending_ == Ending::kSilence && silentBytes_ >= bufferBytes_) {
    // The tail and a whole device buffer of silence behind it have been handed over, so the
    // tail has sounded. A command the window gave meanwhile wins over the track's end.
    const bool lastOfList = gapless_ || r_.TrackCount <= 1 || r_.TrackIndex + 1 >= r_.TrackCount;
    const bool stop = app_.PlayOnce.Load() != 0 && lastOfList;
    std::uint32_t none = context::kCommandNone;
    app_.PlayCommand.CompareExchange(none,
                                     stop ? context::kCommandStop : context::kCommandTrackEnded);
    return Pass::kLeave;
  }
  if (ending_ != Ending::kPlaying) return Pass::kCopy;
  std::int32_t target = 0;
  if (app_.Seek.Take(&target)) {
    app_.Position = static_cast<std::uint64_t>(std::max(target, 0)) * app_.PositionRate.Load();
  } else if (gapless_ && command == context::kCommandJump) {
    const std::uint32_t requested = app_.RequestedTrack.Load();
    if (requested < r_.TrackCount) app_.Position = r_.TrackTable[requested].StartOffset;
    std::uint32_t jump = context::kCommandJump;
    app_.PlayCommand.CompareExchange(jump, context::kCommandNone);
  }
  if (gapless_) {
    const std::uint64_t position = app_.Position.Load();
    std::uint32_t current = 0;
    for (std::uint32_t i = 0; i < r_.TrackCount; ++i) {
      if (r_.TrackTable[i].StartOffset <= position) current = i;
    }
    app_.CurrentTrack = current;
  }
  if (TrackEnds() && app_.Position.Load() + bufferBytes_ > view_.dataBytes) {
    ending_ = Ending::kTail;
  }
  return Pass::kCopy;
}

void Feeder::Copy(std::uint8_t* destination, std::uint32_t frames) {
  const std::uint64_t wanted = static_cast<std::uint64_t>(frames) * view_.frameBytes;
  std::uint64_t position = app_.Position.Load();
  std::uint64_t done = 0;
  if (ending_ == Ending::kPlaying) {
    while (done < wanted && view_.dataBytes > 0) {
      if (position >= view_.dataBytes) position = 0;  // the data repeats from its start
      const std::uint64_t chunk = std::min(wanted - done, view_.dataBytes - position);
      std::memcpy(destination + done, view_.data + position, chunk);
      done += chunk;
      position += chunk;
    }
  } else {
    if (ending_ == Ending::kTail && position < view_.dataBytes) {
      done = std::min(wanted, view_.dataBytes - position);
      std::memcpy(destination, view_.data + position, done);
      position += done;
      // The idle pattern continues the markers of the data (frame k carries 0x05 when k is even).
      marker_ = ((position / view_.frameBytes) % 2 == 0)
                    ? kDopMarkerFirst
                    : static_cast<std::uint8_t>(~kDopMarkerFirst);
    }
    if (position >= view_.dataBytes) ending_ = Ending::kSilence;
    marker_ = FillSilence(destination + done,
                          static_cast<std::uint32_t>((wanted - done) / view_.frameBytes),
                          view_.frameBytes, dop_, marker_, idleByte_);
    if (ending_ == Ending::kSilence) silentBytes_ += wanted - done;
  }
  app_.Position = position;
  if (frames > 0) app_.SeekPending = 0;
}

}  // namespace lumaro::engine
