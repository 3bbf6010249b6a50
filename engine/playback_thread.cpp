#include "engine/playback_thread.h"

#include <exception>

#include "dsp/guarded_alloc.h"
#include "engine/step_machine.h"
#include "platform/failure.h"
#include "platform/os.h"

namespace lumaro::engine {

namespace {
// Made once and never destroyed: a detached playback thread may still leave it while the
// process ends.
platform::ThreadCount& Running() {
  static platform::ThreadCount* running = new platform::ThreadCount;
  return *running;
}
}  // namespace

int RunningPlaybackThreads() noexcept { return Running().Running(); }

bool WaitForPlaybackThreads(std::uint32_t milliseconds) {
  return Running().WaitForNone(milliseconds);
}

Result RunPlayback(std::unique_ptr<context::PlayRequest> request) {
  Result result = kOk;
  {
    const platform::FailureRecording recording(&request->App->PlayCommand);
    result = StepMachine(*request, 0);  // publishes its result and failure chain itself
  }
  request.reset();
  dsp::ReleaseFreeBlocks();
  platform::CompactHeap();
  return result;
}

bool StartPlayback(std::unique_ptr<context::PlayRequest> request) {
  // The body owns the request through a shared holder so that a failed start frees it here.
  std::shared_ptr<std::unique_ptr<context::PlayRequest>> owned;
  try {
    owned = std::make_shared<std::unique_ptr<context::PlayRequest>>(std::move(request));
  } catch (const std::exception&) {
    return false;
  }
  Running().Enter();
  const bool started = platform::StartDetachedThread([owned] {
    (void)RunPlayback(std::move(*owned));
    Running().Leave();  // the thread's last touch
  });
  if (!started) Running().Leave();
  return started;
}

}  // namespace lumaro::engine
