#pragma once

#include <cstdint>
#include <memory>

#include "context/play_request.h"
#include "platform/result.h"

namespace lumaro::engine {

// The playback thread's procedure: runs the step machine from step 0 with the request, frees the
// request, compacts the heap and answers step 0's result (the thread's exit code). The thread
// records its failure chain meanwhile; step 0 leaves the result, and the chain of a failure, in
// the AppContext's Failures before it gives the playback gate back.
Result RunPlayback(std::unique_ptr<context::PlayRequest> request);

// Starts a playback thread that owns `request` (nobody waits for it). A newer playback takes over
// by stopping the running one. Failure answer: false, and the request is freed.
[[nodiscard]] bool StartPlayback(std::unique_ptr<context::PlayRequest> request);

// Playback threads started by StartPlayback that have not ended yet, counted from before the
// thread starts until its very last step, so that a thread that has not yet reached the
// playback gate is counted too. Any thread.
int RunningPlaybackThreads() noexcept;

// Waits until no such thread runs; false when `milliseconds` ran out first. Any thread.
[[nodiscard]] bool WaitForPlaybackThreads(std::uint32_t milliseconds);

}  // namespace lumaro::engine
