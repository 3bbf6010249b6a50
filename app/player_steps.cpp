#include "app/player_steps.h"

#include "app/read_playlist.h"
#include "engine/step_machine.h"
#include "resources/status_texts.h"

namespace lumaro::app {
namespace {

enum : Result { kErrNoReader = 0x1300, kErrStopped, kErrNoEnumerator, kErrNoDriverKey };

// Step 8 while no reader is built in: the chain's answer when every reader refuses the file.
Result DecodeWithoutReaders(PlayRequest& r) {
  if (r.App->PlayCommand.Load() != 0) return kErrStopped;
  engine::ShowStatus(r, resources::kErrReadFailed);
  return kErrNoReader;
}

// Step 10 while no endpoint backend is built in: the enumerator cannot be created.
Result OpenEndpointsWithoutBackend(PlayRequest& r) {
  engine::ShowStatus(r, resources::kStatusCoCreateInstance);
  engine::ShowStatus(r, resources::kErrCoCreateInstanceFailed);
  return kErrNoEnumerator;
}

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
  steps.decode = DecodeWithoutReaders;
  steps.device[10] = OpenEndpointsWithoutBackend;
  steps.device[14] = OpenDriversWithoutBackend;
  return steps;
}

}  // namespace

const engine::EngineSteps& PlayerSteps() {
  static const engine::EngineSteps steps = MakePlayerSteps();
  return steps;
}

}  // namespace lumaro::app
