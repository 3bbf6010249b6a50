#pragma once

#include "app/play_request.h"
#include "platform/result.h"

// The endpoint family's steps of a playback: finding and opening the endpoint and choosing its
// format (10–13), initialising the client (21), and rendering (24–27). Each writes its status and
// error texts, runs the next step through the step machine and releases what it acquired.
// Playback thread.
namespace lumaro::output {

[[nodiscard]] Result CreateEndpointEnumerator(app::PlayRequest& request);  // step 10
[[nodiscard]] Result FindEndpoint(app::PlayRequest& request);              // step 11
[[nodiscard]] Result ActivateEndpoint(app::PlayRequest& request);          // step 12
[[nodiscard]] Result ChooseEndpointFormat(app::PlayRequest& request);      // step 13
[[nodiscard]] Result InitializeEndpoint(app::PlayRequest& request);        // step 21
[[nodiscard]] Result PrepareRendering(app::PlayRequest& request);          // step 24
[[nodiscard]] Result StartEndpoint(app::PlayRequest& request);             // step 25
[[nodiscard]] Result PlayEndpointLeadIn(app::PlayRequest& request);        // step 26
[[nodiscard]] Result FeedEndpoint(app::PlayRequest& request);              // step 27

// True when the request plays through the shared mix format ("Share").
bool PlaysShared(const app::PlayRequest& request);

}  // namespace lumaro::output
