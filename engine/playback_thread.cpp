#include "engine/playback_thread.h"

#include <atomic>
#include <exception>

#include "engine/step_machine.h"
#include "platform/failure.h"
#include "platform/os.h"

namespace lumaro::engine {

namespace {
enum : Result { kErrUnexpected = FirstCode(FailureSite::kPlaybackThread) };
constexpr platform::FailureNames kFailures{
    FailureSite::kPlaybackThread, kErrUnexpected, {"unexpected exception in the playback"}};
std::atomic<int> runningThreads{0};
}  // namespace

int RunningPlaybackThreads() noexcept { return runningThreads.load(std::memory_order_acquire); }

Result RunPlayback(std::unique_ptr<context::PlayRequest> request) {
  Result result = kErrUnexpected;
  const platform::FailureRecording recording(&request->App->PlayCommand);
  try {
    result = StepMachine(*request, 0);
  } catch (const std::exception&) {
    // Only an allocation inside a standard container can throw here; every step has released
    // what it held on the way out, and the gate was given back by its scope guard.
    (void)kFailures.Note(result);
    request->App->Failures.Add(result, platform::TakeFailureChain());
  }
  request.reset();
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
  runningThreads.fetch_add(1, std::memory_order_acq_rel);
  const bool started = platform::StartDetachedThread([owned] {
    (void)RunPlayback(std::move(*owned));
    runningThreads.fetch_sub(1, std::memory_order_acq_rel);  // the thread's last touch
  });
  if (!started) runningThreads.fetch_sub(1, std::memory_order_acq_rel);
  return started;
}

}  // namespace lumaro::engine
