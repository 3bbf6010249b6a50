#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "context/string_list.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::context {

struct PlayRequest;

// The steps of a playback. The numbers order them: a step only ever calls or continues with a
// later one, and the status texts appear in this order.
enum class Step : std::uint8_t {
  kTakeGate = 0,
  kResetPlaybackWords = 1,
  kShowPlayingLook = 2,
  kExpandPlaylists = 3,
  kRegisterFileList = 4,
  kTrackLoop = 5,
  kPrepareTrack = 6,
  kDecodeTracks = 7,
  kDecode = 8,
  kInitializeCom = 9,
  // The endpoint family: enumerator, endpoint, client and format.
  kCreateEndpointEnumerator = 10,
  kFindEndpoint = 11,
  kActivateEndpoint = 12,
  kChooseEndpointFormat = 13,
  // The driver family: registry key, driver, driver object, format and buffers.
  kOpenDriverKey = 14,
  kFindDriver = 15,
  kCreateDriver = 16,
  kChooseDriverFormat = 17,
  // Preparation shared by both families.
  kRaisePriority = 18,
  kApplyVolumeAssist = 19,
  kPrepareEndpointOutput = 20,
  kInitializeEndpoint = 21,
  kPrepareDriverOutput = 22,
  kCreatePlaybackEvent = 23,
  kPrepareRendering = 24,
  kStartEndpoint = 25,
  kPlayEndpointLeadIn = 26,
  kFeedEndpoint = 27,
  kStartDriver = 28,
  kPlayDriverLeadIn = 29,
  kFeedDriver = 30,
};

// The step machine answers a failure for any number above this one.
inline constexpr Step kLastStep = Step::kFeedDriver;
inline constexpr std::size_t kStepCount = static_cast<std::size_t>(kLastStep) + 1;

constexpr unsigned Number(Step step) { return static_cast<unsigned>(step); }

// The two device families. A DeviceList entry names its family by its first character: "W" is
// an endpoint, anything else a driver.
enum class DeviceFamily : std::uint8_t { kEndpoint = 0, kDriver = 1 };
inline constexpr std::size_t kFamilyCount = 2;
inline constexpr std::u16string_view kEndpointPrefix = u"W: ";
inline constexpr std::u16string_view kDriverPrefix = u"A: ";

constexpr DeviceFamily FamilyOf(std::u16string_view deviceEntry) {
  return !deviceEntry.empty() && deviceEntry.front() == kEndpointPrefix.front()
             ? DeviceFamily::kEndpoint
             : DeviceFamily::kDriver;
}

// One step of the playback: runs on the playback thread with the request, calls the next steps
// through the step machine, undoes what it set up, and answers 0 or a nonzero code (having
// written its failure text into the status line, unless a stop was requested).
using StepHandler = std::function<Result(PlayRequest&)>;

// The extension that makes a dropped path a play list (compared exactly, letter case included).
inline constexpr std::u16string_view kPlaylistExtension = u".m3u8";

// Reads an ".m3u8" play list into full paths; nullptr on failure. Polls `stop` between lines and
// answers what it has read when it is set.
using PlaylistReader = std::function<std::unique_ptr<StringList>(std::u16string_view path,
                                                                 const platform::StopWord& stop)>;

// The steps of one device family: its own handlers by step number, and the three places where
// the engine hands over to it (after the component system is up, after volume assist, after the
// playback event exists).
struct FamilySteps {
  Step open;
  Step prepareOutput;
  Step render;
  std::array<StepHandler, kStepCount> handlers{};
};

// The steps the engine hands to other components: the play-list reader of step 3, the decoder
// dispatch of step 8, the shared preparation steps 18 and 19 and each device family's table.
// The engine runs steps 0–7, 9 and 23 itself. An empty handler fails without a text. The maker
// of a PlayRequest chooses the table.
struct StepTable {
  PlaylistReader readPlaylist;
  StepHandler decode;
  StepHandler raisePriority;
  StepHandler applyVolumeAssist;
  std::array<FamilySteps, kFamilyCount> families{{
      {Step::kCreateEndpointEnumerator, Step::kPrepareEndpointOutput, Step::kPrepareRendering},
      {Step::kOpenDriverKey, Step::kPrepareDriverOutput, Step::kStartDriver},
  }};

  FamilySteps& Family(DeviceFamily family) { return families[static_cast<std::size_t>(family)]; }
  const FamilySteps& Family(DeviceFamily family) const {
    return families[static_cast<std::size_t>(family)];
  }
  // The handler of a family's own step.
  StepHandler& Handler(DeviceFamily family, Step step) {
    return Family(family).handlers[Number(step)];
  }
};

}  // namespace lumaro::context
