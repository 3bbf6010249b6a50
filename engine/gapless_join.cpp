#include "engine/gapless_join.h"

#include <cstring>

#include "engine/step_machine.h"
#include "platform/failure.h"
#include "resources/status_texts.h"

namespace lumaro::engine {
namespace {

using context::PlayRequest;
using dsp::AudioBuffer;
using dsp::DsdBuffer;

enum : Result { kErrWrongRecord = FirstCode(FailureSite::kGaplessJoin), kErrTooLong, kErrNoMemory };
constexpr platform::FailureNames kFailures{
    FailureSite::kGaplessJoin,
    kErrNoMemory,
    {"gapless track of another record", "gapless list too long",
     "no memory for the joined tracks"}};

inline constexpr std::uint64_t kJoinedPcmLeadIn = 48;

// Sums the real lengths (frames or bytes per channel) of every record of type T in the table;
// fails when a record is of another type or the sum overflows.
template <class T, class Length>
Result TotalLength(const PlayRequest& r, Length length, std::uint64_t* total) {
  *total = 0;
  for (std::uint32_t i = 0; i < r.TrackCount; ++i) {
    const T* record = r.TrackTable[i].Record.Get<T>();
    if (record == nullptr) return kFailures.Note(kErrWrongRecord);
    if (length(*record) > UINT64_MAX - *total) return kFailures.Note(kErrTooLong);
    *total += length(*record);
  }
  return kOk;
}

Result JoinPcm(PlayRequest& r) {
  std::uint64_t total = 0;
  const auto frames = [](const AudioBuffer& b) { return b.frameCount; };
  if (const Result summed = TotalLength<AudioBuffer>(r, frames, &total); summed != kOk) {
    return summed;
  }
  const AudioBuffer& first = *r.TrackTable[0].Record.Get<AudioBuffer>();
  dsp::AudioBufferPtr joined;
  if (dsp::NewAudioBufferToOverwrite(joined, first.sampleRate, total, kJoinedPcmLeadIn) != kOk) {
    return kFailures.Note(kErrNoMemory);
  }
  std::uint64_t done = 0;
  for (std::uint32_t i = 0; i < r.TrackCount; ++i) {
    context::TrackTableEntry& entry = r.TrackTable[i];
    const AudioBuffer& track = *entry.Record.Get<AudioBuffer>();
    entry.StartSeconds = static_cast<double>(done) / r.DecodedRate;
    std::memcpy(joined->Frame(static_cast<std::int64_t>(done)), track.Frame(0),
                track.frameCount * dsp::kAudioFrameBytes);
    done += track.frameCount;
    entry.Record.Clear();
  }
  r.Buffer.Put(std::move(joined));
  return kOk;
}

Result JoinDsd(PlayRequest& r) {
  std::uint64_t total = 0;
  const auto bytes = [](const DsdBuffer& b) { return b.length; };
  if (const Result summed = TotalLength<DsdBuffer>(r, bytes, &total); summed != kOk) {
    return summed;
  }
  const DsdBuffer& first = *r.TrackTable[0].Record.Get<DsdBuffer>();
  dsp::DsdBufferPtr joined;
  if (dsp::NewDsdBuffer(joined, first.dsdRate, total) != kOk) return kFailures.Note(kErrNoMemory);
  std::uint64_t done = 0;
  for (std::uint32_t i = 0; i < r.TrackCount; ++i) {
    context::TrackTableEntry& entry = r.TrackTable[i];
    const DsdBuffer& track = *entry.Record.Get<DsdBuffer>();
    entry.StartSeconds = static_cast<double>(done) * 8.0 / r.DecodedRate;
    std::memcpy(joined->Data() + 2 * done, track.Data(), 2 * track.length);
    done += track.length;
    entry.Record.Clear();
  }
  r.Buffer.Put(std::move(joined));
  return kOk;
}

}  // namespace

Result JoinTracks(PlayRequest& r) {
  r.Buffer.Clear();
  const Result result = r.IsDsd != 0 ? JoinDsd(r) : JoinPcm(r);
  if (result != kOk) ShowStatus(r, resources::kErrOutOfMemory);
  return result;
}

}  // namespace lumaro::engine
