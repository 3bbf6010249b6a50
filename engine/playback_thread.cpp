#include "engine/playback_thread.h"

#include <exception>

#include "engine/step_machine.h"
#include "platform/os.h"

namespace lumaro::engine {

namespace {
constexpr Result kErrUnexpected = 0x1600;
}

Result RunPlayback(std::unique_ptr<app::PlayRequest> request) {
  Result result = kErrUnexpected;
  try {
    result = StepMachine(*request, 0);
  } catch (const std::exception&) {
    // Only an allocation inside a standard container can throw here; every step has released
    // what it held on the way out, and the gate was given back by its scope guard.
  }
  request.reset();
  platform::CompactHeap();
  return result;
}

bool StartPlayback(std::unique_ptr<app::PlayRequest> request) {
  // The body owns the request through a shared holder so that a failed start frees it here.
  std::shared_ptr<std::unique_ptr<app::PlayRequest>> owned;
  try {
    owned = std::make_shared<std::unique_ptr<app::PlayRequest>>(std::move(request));
  } catch (const std::exception&) {
    return false;
  }
  return platform::StartDetachedThread([owned] { (void)RunPlayback(std::move(*owned)); });
}

}  // namespace lumaro::engine
