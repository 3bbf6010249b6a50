#include "context/stop_playback.h"

#include "context/playback_gate.h"
#include "platform/os.h"

namespace lumaro::context {

void StopPlayback(AppContext& app) {
  while (!PlaybackGateFree()) {
    app.PlayCommand = kCommandStop;
    (void)WaitForPlaybackGate(kGateRetryMilliseconds);
  }
}

bool StartStopPlayback(AppContext& app) {
  return platform::StartDetachedThread([&app] { StopPlayback(app); });
}

}  // namespace lumaro::context
