#include "app/player_steps.h"

#include "app/read_playlist.h"
#include "decode/decode_track.h"
#include "engine/step_machine.h"
#include "engine/track_preparation.h"
#include "output/endpoint_steps.h"
#include "resources/status_texts.h"

namespace lumaro::app {
namespace {

enum : Result { kErrNoDriverKey = 0x1300 };

// Step 14 while no driver backend is built in: the driver registry key is missing, which fails
// without a text.
Result OpenDriversWithoutBackend(PlayRequest& r) {
  engine::ShowStatus(r, resources::kStatusPreparingDevice);
  return kErrNoDriverKey;
}

engine::EngineSteps MakePlayerSteps() {
  engine::EngineSteps steps;
  steps.readPlaylist = [](std::u16string_view path, const platform::StopWord& stop) {
    return ReadPlaylist(path, stop);
  };
  steps.decode = decode::DecodeTrack;
  steps.device[10] = output::CreateEndpointEnumerator;
  steps.device[11] = output::FindEndpoint;
  steps.device[12] = output::ActivateEndpoint;
  steps.device[13] = output::ChooseEndpointFormat;
  steps.device[14] = OpenDriversWithoutBackend;
  steps.device[18] = engine::RaisePriority;
  steps.device[19] = engine::ApplyVolumeAssist;
  steps.device[20] = engine::PrepareEndpointOutput;
  steps.device[21] = output::InitializeEndpoint;
  steps.device[24] = output::PrepareRendering;
  steps.device[25] = output::StartEndpoint;
  steps.device[26] = output::PlayEndpointLeadIn;
  steps.device[27] = output::FeedEndpoint;
  return steps;
}

}  // namespace

const engine::EngineSteps& PlayerSteps() {
  static const engine::EngineSteps steps = MakePlayerSteps();
  return steps;
}

}  // namespace lumaro::app
