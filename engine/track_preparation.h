#pragma once

#include "context/play_request.h"
#include "platform/result.h"

// The steps between the opened device and its start that make the device's bytes: the thread's
// priority (18), volume assist (19) and the endpoint family's output data (20). Each writes its
// texts, runs the next step through the step machine, and answers 0 or its failure. A stage
// that fails while a stop is requested writes nothing. Playback thread.
namespace lumaro::engine {

[[nodiscard]] Result RaisePriority(context::PlayRequest& request);          // step 18
[[nodiscard]] Result ApplyVolumeAssist(context::PlayRequest& request);      // step 19
[[nodiscard]] Result PrepareEndpointOutput(context::PlayRequest& request);  // step 20

// Converts a DSD track in the Buffer slot to 64-bit float ("Converting to 64bit float ...");
// nothing to do for PCM. Shared by the format choice of "Share" and the steps above.
[[nodiscard]] Result ConvertDsdToFloat(context::PlayRequest& request);

// Resamples the track to `rate` ("Resampling ...") when its rate differs.
[[nodiscard]] Result ResampleTo(context::PlayRequest& request, std::uint32_t rate);

}  // namespace lumaro::engine
