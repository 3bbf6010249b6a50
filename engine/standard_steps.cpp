#include "app/read_playlist.h"
#include "engine/engine_steps.h"
#include "engine/step_machine.h"
#include "resources/status_texts.h"

namespace lumaro::engine {
namespace {

enum : Result { kErrNoReader = 0x1300, kErrStopped, kErrNoEnumerator, kErrNoDriverKey };

// Step 8 while no reader is built in: the chain's answer when every reader refuses the file.
Result DecodeWithoutReaders(app::PlayRequest& r) {
  if (r.App->PlayCommand.Load() != 0) return kErrStopped;
  ShowStatus(r, resources::kErrReadFailed);
  return kErrNoReader;
}

// Step 10 while no endpoint backend is built in: the enumerator cannot be created.
Result OpenEndpointsWithoutBackend(app::PlayRequest& r) {
  ShowStatus(r, resources::kStatusCoCreateInstance);
  ShowStatus(r, resources::kErrCoCreateInstanceFailed);
  return kErrNoEnumerator;
}

// Step 14 while no driver backend is built in: the driver registry key is missing, which fails
// without a text.
Result OpenDriversWithoutBackend(app::PlayRequest& r) {
  ShowStatus(r, resources::kStatusPreparingDevice);
  return kErrNoDriverKey;
}

EngineSteps MakeStandardSteps() {
  EngineSteps steps;
  steps.readPlaylist = [](std::u16string_view path, const platform::StopWord& stop) {
    return app::ReadPlaylist(path, stop);
  };
  steps.decode = DecodeWithoutReaders;
  steps.device[10] = OpenEndpointsWithoutBackend;
  steps.device[14] = OpenDriversWithoutBackend;
  return steps;
}

}  // namespace

const EngineSteps& StandardSteps() {
  static const EngineSteps steps = MakeStandardSteps();
  return steps;
}

}  // namespace lumaro::engine
