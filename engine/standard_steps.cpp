#include "decode/decode_track.h"
#include "engine/engine_steps.h"
#include "engine/step_machine.h"
#include "resources/status_texts.h"

namespace lumaro::engine {
namespace {

enum : Result { kErrNoEnumerator = 0x1302, kErrNoDriverKey };

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
  steps.readPlaylist = nullptr;
  steps.decode = decode::DecodeTrack;
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
