#pragma once

#include "context/play_request.h"
#include "context/step_table.h"
#include "platform/result.h"

// The endpoint family's steps of a playback: finding and opening the endpoint and choosing its
// format (10–13), initialising the client (21), and rendering (24–27). Each writes its status and
// error texts, runs the next step through the step machine and releases what it acquired.
// Playback thread.
namespace lumaro::output {

[[nodiscard]] Result CreateEndpointEnumerator(context::PlayRequest& request);  // step 10
[[nodiscard]] Result FindEndpoint(context::PlayRequest& request);              // step 11
[[nodiscard]] Result ActivateEndpoint(context::PlayRequest& request);          // step 12
[[nodiscard]] Result ChooseEndpointFormat(context::PlayRequest& request);      // step 13
[[nodiscard]] Result InitializeEndpoint(context::PlayRequest& request);        // step 21
[[nodiscard]] Result PrepareRendering(context::PlayRequest& request);          // step 24
[[nodiscard]] Result StartEndpoint(context::PlayRequest& request);             // step 25
[[nodiscard]] Result PlayEndpointLeadIn(context::PlayRequest& request);        // step 26
[[nodiscard]] Result FeedEndpoint(context::PlayRequest& request);              // step 27

// The endpoint family's table: its steps 10–13, 20, 21 and 24–27 (step 20, the output data, is
// the engine's preparation).
context::FamilySteps EndpointFamilySteps();

// True when the request plays through the shared mix format ("Share").
bool PlaysShared(const context::PlayRequest& request);

}  // namespace lumaro::output
