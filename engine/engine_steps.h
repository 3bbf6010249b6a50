#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string_view>

#include "app/play_request.h"
#include "app/string_list.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::engine {

// Step numbers run from 0 to kLastStep; the step machine answers a failure for any other.
inline constexpr unsigned kLastStep = 30;

// One step of the playback: runs on the playback thread with the request, calls the next steps
// through StepMachine, undoes what it set up, and answers 0 or a nonzero code (having written its
// failure text into the status line, unless a stop was requested).
using StepHandler = std::function<Result(app::PlayRequest&)>;

// Reads an ".m3u8" play list into full paths; nullptr on failure. Polls `stop` between lines and
// answers what it has read when it is set.
using PlaylistReader = std::function<std::unique_ptr<app::StringList>(
    std::u16string_view path, const platform::StopWord& stop)>;

// The steps the engine hands to other components: the play-list reader of step 3, the decoder
// dispatch of step 8, and the device-family and preparation steps 10–22 and 24–30 by number.
// The engine runs steps 0–7, 9 and 23 itself. An empty handler fails without a text.
struct EngineSteps {
  PlaylistReader readPlaylist;
  StepHandler decode;
  std::array<StepHandler, kLastStep + 1> device;
};

// The player's own components: the ".m3u8" reader of app/read_playlist.h, and for what is not
// built yet an answer as if it were absent from the machine: no reader decodes the file
// ("ERROR: read failed"), the endpoint enumerator cannot be created, no driver is registered.
const EngineSteps& StandardSteps();

}  // namespace lumaro::engine
