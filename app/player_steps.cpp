#include "app/player_steps.h"

#include "app/driver_lists.h"
#include "app/read_playlist.h"
#include "decode/decode_track.h"
#include "engine/track_preparation.h"
#include "output/driver_steps.h"
#include "output/endpoint_steps.h"

namespace lumaro::app {
namespace {

context::StepTable MakePlayerSteps() {
  context::StepTable steps;
  steps.readPlaylist = [](std::u16string_view path, const platform::StopWord& stop) {
    return ReadPlaylist(path, stop);
  };
  steps.decode = decode::DecodeTrack;
  steps.raisePriority = engine::RaisePriority;
  steps.applyVolumeAssist = engine::ApplyVolumeAssist;
  steps.Family(context::DeviceFamily::kEndpoint) = output::EndpointFamilySteps();
  steps.Family(context::DeviceFamily::kDriver) = output::DriverFamilySteps(AsioProbe);
  return steps;
}

}  // namespace

const context::StepTable& PlayerSteps() {
  static const context::StepTable steps = MakePlayerSteps();
  return steps;
}

}  // namespace lumaro::app
