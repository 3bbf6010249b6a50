#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "context/play_request.h"
#include "platform/result.h"

namespace lumaro::engine {

// The prepared output as the feeding loop sees it: the real data of the output record.
struct OutputView {
  const std::uint8_t* data = nullptr;  // real frame 0 (or byte pair 0)
  std::uint64_t dataBytes = 0;
  std::uint32_t frameBytes = 0;      // bytes of one frame (2 for a DSD byte pair)
  std::uint64_t bytesPerSecond = 0;  // PositionRate
  std::uint32_t totalSeconds = 0;
};

// The view of the PcmBuffer or DsdBuffer in the slot (an empty view for anything else).
OutputView ViewOf(const dsp::BufferSlot& slot);

// What the decode line says about the output.
struct DecodeLineOutput {
  enum Kind { kShared, kPcm, kDop, kNativeDsd } kind = kPcm;
  std::uint32_t validBits = 0;
  std::uint32_t containerBits = 0;
  std::uint32_t rate = 0;
};

// "Decode: 16bit 44100Hz - Out: 24/32bit 96000Hz" and its variants ("float" when the decoder
// delivered floating point).
std::u16string DecodeLine(const context::PlayRequest& request, const DecodeLineOutput& output);

// The playing look around the feeding step, after the lead-in: position words set, seek bar
// ranged and shown, the decode line in the status line, the play-list box enabled and shown;
// `feed` runs between PositionValid 1 and 0; afterwards the seek bar is hidden and the time text
// emptied. Answers feed's result. Playback thread.
Result RunPlayingLook(context::PlayRequest& request, const OutputView& view,
                      std::u16string_view decodeLine, const std::function<Result()>& feed);

// Sets every track table entry's StartOffset for the output record in the Buffer slot (gapless
// playback only): ⌊rate × StartSeconds⌋ × bytes per frame for PCM, ⌊DSD rate × 0.125 ×
// StartSeconds⌋ × 2 for DSD; the products truncate.
void SetStartOffsets(context::PlayRequest& request);

// Fills `frames` frames of device silence: `idleByte` in every byte (zero for PCM, kDsdIdleByte
// for 1-bit data), or for DoP the idle pattern (DSD bytes 0xCC under a marker that starts at
// `marker` and is inverted after every frame). Answers the marker of the frame that would follow.
std::uint8_t FillSilence(std::uint8_t* destination, std::uint32_t frames, std::uint32_t frameBytes,
                         bool dop, std::uint8_t marker, std::uint8_t idleByte = 0);

inline constexpr std::uint8_t kDopMarkerFirst = 0x05;
// 1-bit silence: 11001100 has as many ones as zeros and no long runs, so a converter hears
// nothing and stays locked.
inline constexpr std::uint8_t kDsdIdleByte = 0xCC;
inline constexpr std::uint32_t kWaitMilliseconds = 2000;

// Waits (through the process's clock) at most kWaitMilliseconds for the device to signal the
// PlaybackEvent. Failure answer: nonzero, with "ERROR: WaitForSingleObject failed" in the status
// line unless a stop was requested. Playback thread.
[[nodiscard]] Result WaitForDevice(const context::PlayRequest& request);

// One pass after another of the feeding rules shared by both device families. Each pass:
// Begin() applies the leave, wait, seek, jump, current-track and end-of-track rules; then the
// device loop copies frames with Copy() (wrapping to the start of the data) and hands them to
// the device. Playback thread.
class Feeder {
 public:
  // `idleByte`: the silence of a device that is not DoP (0xCC for native 1-bit data).
  Feeder(context::PlayRequest& request, const OutputView& view, std::uint64_t deviceBufferBytes,
         bool dop, std::uint8_t idleByte = 0);

  enum class Pass {
    kCopy,   // copy the device's frames with Copy()
    kLeave,  // leave the loop with 0 (PlayCommand says why)
    kFail,   // leave with the failure code Begin() wrote
  };
  Pass Begin(Result* failure);

  // Copies `frames` frames at Position into `destination`. At the end of a track that ends (a
  // list with more tracks, or "once"), the frames after the data are silence, and silence
  // follows until a whole device buffer of it has been handed over, so the tail sounds before
  // the device stops.
  void Copy(std::uint8_t* destination, std::uint32_t frames);

 private:
  bool TrackEnds() const;

  context::PlayRequest& r_;
  context::AppContext& app_;
  OutputView view_;
  std::uint64_t bufferBytes_;
  bool dop_;
  std::uint8_t idleByte_;
  bool gapless_;
  // The end of a track that ends: its last data is handed over (kTail), then silence until a
  // whole device buffer of it has followed the data (kSilence), so the tail sounds in full
  // before the device stops, however little room the device offers per pass.
  enum class Ending { kPlaying, kTail, kSilence };
  Ending ending_ = Ending::kPlaying;
  std::uint64_t silentBytes_ = 0;
  std::uint8_t marker_ = kDopMarkerFirst;  // next idle marker of the ending's silence
};

}  // namespace lumaro::engine
