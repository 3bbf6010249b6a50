#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "context/string_list.h"
#include "dsp/assist_limits.h"
#include "platform/failure.h"
#include "platform/services.h"
#include "platform/shared_word.h"
#include "platform/ui.h"

namespace lumaro::context {

using platform::SignedWord;
using platform::Word;
using platform::Word64;

// The scan tool's built-in extension list.
inline constexpr std::u16string_view kDefaultExtensions =
    u"aac aif aiff avi dff dsf flac flv m m2 m4a mid mkv mov mp3 mp4 mpg mz oga ogg opi opus ovi "
    u"ozi smf wav webm wma wmv";

// Compression is followed by peak normalization unless the user turns it off.
inline constexpr std::uint32_t kCompPeakNormalizationDefault = 1;

// The seek request: a flag (1 = a seek is wanted) and a target in whole seconds, kept in one
// 64-bit word so that the window can ask for "restart from 0" in a single store and the engine
// can take flag and target together.
class SeekRequest {
 public:
  // The window asks for a seek to `seconds` (flag and target in one store).
  void Request(std::int32_t seconds) noexcept { word_.Store(Pack(1, seconds)); }
  std::uint32_t SeekFlag() const noexcept { return static_cast<std::uint32_t>(word_.Load()); }
  std::int32_t SeekTarget() const noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(word_.Load() >> 32));
  }
  // The engine's side: answers true and the target when a seek was wanted, clearing the flag
  // in the same atomic step (a newer request is never lost).
  bool Take(std::int32_t* seconds) noexcept {
    std::uint64_t seen = word_.Load();
    while ((seen & kFlagMask) != 0) {
      if (word_.CompareExchange(seen, seen & ~kFlagMask)) {
        *seconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(seen >> 32));
        return true;
      }
    }
    return false;
  }
  // Sets the target, keeping the flag.
  void SetTarget(std::int32_t seconds) noexcept {
    std::uint64_t seen = word_.Load();
    while (!word_.CompareExchange(seen, Pack(static_cast<std::uint32_t>(seen), seconds))) {
    }
  }
  void Clear() noexcept { word_.Store(0); }

 private:
  static constexpr std::uint64_t kFlagMask = 0xFFFFFFFFULL;
  static std::uint64_t Pack(std::uint32_t flag, std::int32_t seconds) noexcept {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(seconds)) << 32) | flag;
  }
  Word64 word_;
};

// The one per-process record: entry data, the main window's handles, the words by which the
// window and the playback engine talk, the Settings and the scan tool's values. Fields keep
// their documented order; defaults are those the settings initialisation starts from.
//
// Thread contract: no lock. Shared words are SharedWords, written whole and polled. The
// user-interface thread owns the Settings, the lists and the window fields; the playback thread
// writes the playback words (CurrentTrack, ListActive, the position words) and PlayCommand 0/2.
struct AppContext {
  // Entry data (written once before any other thread starts).
  void* InstanceHandle = nullptr;
  void* PrevInstance = nullptr;
  const char16_t* CommandLine = nullptr;
  std::uint32_t ShowCommand = 0;
  std::int32_t ArgCount = 0;
  std::vector<std::u16string> ArgVector;

  Word ListOpen{0};
  Word CurrentTrack{0};
  Word VolumeAssist{0};  // 0 None, 1 Peak, 2 Compression, 3 Loudness normalization
  Word ResampleIndex{0};

  Word PeakTargetReset{dsp::kPeakTargetLimits.reset};
  Word PeakTargetMin{dsp::kPeakTargetLimits.min};
  Word PeakTargetMax{dsp::kPeakTargetLimits.max};
  Word PeakTarget{dsp::kPeakTargetLimits.reset};  // percent of full scale

  Word CompThresholdMin{dsp::kCompThresholdLimits.min};
  Word CompThresholdMax{dsp::kCompThresholdLimits.max};
  Word CompDownwardMin{dsp::kCompDownwardLimits.min};
  Word CompDownwardMax{dsp::kCompDownwardLimits.max};
  Word CompUpwardMin{dsp::kCompUpwardLimits.min};
  Word CompUpwardMax{dsp::kCompUpwardLimits.max};
  Word CompMaxAmplificationMin{dsp::kCompMaxAmplificationLimits.min};
  Word CompMaxAmplificationMax{dsp::kCompMaxAmplificationLimits.max};
  Word CompCellSizeMin{dsp::kCompCellSizeLimits.min};
  Word CompCellSizeMax{dsp::kCompCellSizeLimits.max};
  Word CompTimeLagBalanceMin{dsp::kCompTimeLagBalanceLimits.min};
  Word CompTimeLagBalanceMax{dsp::kCompTimeLagBalanceLimits.max};
  Word CompThresholdReset{dsp::kCompThresholdLimits.reset};
  Word CompDownwardReset{dsp::kCompDownwardLimits.reset};
  Word CompUpwardReset{dsp::kCompUpwardLimits.reset};
  Word CompMaxAmplificationReset{dsp::kCompMaxAmplificationLimits.reset};
  Word CompCellSizeReset{dsp::kCompCellSizeLimits.reset};
  Word CompTimeLagBalanceReset{dsp::kCompTimeLagBalanceLimits.reset};
  Word CompLoudnessTypeReset{dsp::kLoudnessTypeRms};
  Word CompPeakNormalizationReset{kCompPeakNormalizationDefault};
  Word CompThreshold{dsp::kCompThresholdLimits.reset};                // thousandths of full scale
  Word CompDownward{dsp::kCompDownwardLimits.reset};                  // percent
  Word CompUpward{dsp::kCompUpwardLimits.reset};                      // percent
  Word CompMaxAmplification{dsp::kCompMaxAmplificationLimits.reset};  // hundredths of a gain
  Word CompCellSize{dsp::kCompCellSizeLimits.reset};                  // milliseconds
  Word CompTimeLagBalance{dsp::kCompTimeLagBalanceLimits.reset};      // percent after the frame
  Word CompLoudnessType{dsp::kLoudnessTypeRms};                       // 0 ARV, 1 RMS
  Word CompPeakNormalization{kCompPeakNormalizationDefault};  // peak normalization afterwards

  Word FfmpegFound{0};
  Word UseFfmpeg{0};

  Word LoudnessTargetMin{dsp::kLoudnessTargetLimits.min};
  Word LoudnessTargetMax{dsp::kLoudnessTargetLimits.max};
  Word LoudnessTargetReset{dsp::kLoudnessTargetLimits.reset};
  Word LoudnessTarget{dsp::kLoudnessTargetLimits.reset};  // thousandths of full scale
  Word LoudnessTypeReset{dsp::kLoudnessTypeRms};
  Word LoudnessType{dsp::kLoudnessTypeRms};  // 0 ARV, 1 RMS

  Word64 TimerId{0};
  platform::SharedWord<platform::ui::Dialog*> MainWindow{nullptr};
  Word ThumbTracking{0};
  Word PlayCommand{0};  // 0 none, 1 stop, 2 track ended, 3 jump; also every stage's stop request
  Word RequestedTrack{0};
  Word ListActive{0};
  Word DeviceIndex{0};
  Word SeekBusy{0};
  Word PositionValid{0};
  Word SeekPending{0};
  Word64 PositionRate{0};
  Word64 Position{0};
  SignedWord ShownSecond{0};
  Word TotalSeconds{0};
  SeekRequest Seek;  // SeekFlag and SeekTarget

  std::unique_ptr<StringList> DeviceList;
  std::unique_ptr<StringList> RateList;
  Word FluidsynthUsable{0};
  Word UseFluidsynth{0};
  Word FluidsynthFound{0};
  std::unique_ptr<StringList> SoundFontList;
  SignedWord SoundFont1{0}, SoundFont2{0}, SoundFont3{0};
  Word ScanAddPath{1};
  std::unique_ptr<std::u16string> ScanExtensions;
  Word Gapless{0};
  std::u16string_view DefaultExtensions = kDefaultExtensions;
  Word UsePmdwin{0};
  Word PmdwinFound{0};
  Word Pps{0};
  Word SsgRhy{0};
  Word UseWinfmp{0};
  Word WinfmpFound{0};
  Word Cache{0};
  Word AsioSupport{0};

  // Fields that follow the documented record.
  // Play the list (or the single track, or the gapless buffer) once and stop, instead of
  // starting again; set only by the front end.
  Word PlayOnce{0};
  // The backends of this process.
  platform::Services* Services = nullptr;
  // The result of the last playback that ended (its step 0's answer: 0 also after a stop, a
  // jump or an ended track) and the failure chain of each failed one. Thread contract: written
  // by the playback thread while it holds the playback gate, read and taken by any thread
  // (the report has its own lock).
  platform::FailureReport Failures;
};

// PlayCommand values.
inline constexpr std::uint32_t kCommandNone = 0;
inline constexpr std::uint32_t kCommandStop = 1;
inline constexpr std::uint32_t kCommandTrackEnded = 2;
inline constexpr std::uint32_t kCommandJump = 3;

// VolumeAssist values.
inline constexpr std::uint32_t kAssistNone = 0;
inline constexpr std::uint32_t kAssistPeak = 1;
inline constexpr std::uint32_t kAssistCompression = 2;
inline constexpr std::uint32_t kAssistLoudness = 3;

}  // namespace lumaro::context
