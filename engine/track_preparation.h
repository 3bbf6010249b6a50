#pragma once

#include "context/play_request.h"
#include "platform/result.h"

// The steps between the opened device and its start that make the device's bytes: the thread's
// priority (18), volume assist (19) and each family's output data (20, 22). Each writes its
// texts, runs the next step through the step machine, and answers 0 or its failure. A stage
// that fails while a stop is requested writes nothing. Playback thread.
namespace lumaro::engine {

[[nodiscard]] Result RaisePriority(context::PlayRequest& request);          // step 18
[[nodiscard]] Result ApplyVolumeAssist(context::PlayRequest& request);      // step 19
[[nodiscard]] Result PrepareEndpointOutput(context::PlayRequest& request);  // step 20
// The driver family's output data for the request's DriverOutput: 1-bit data at the driver rate
// (a 1-bit track at that rate kept, anything else modulated again), bits reversed for drivers
// that take the earliest sample in bit 7; or PCM at the driver rate in its widths, big-endian
// when the driver asks for it. Continues with the playback event (step 23).
[[nodiscard]] Result PrepareDriverOutput(context::PlayRequest& request);  // step 22

// Converts a DSD track in the Buffer slot to 64-bit float ("Converting to 64bit float ...");
// nothing to do for PCM. Shared by the format choice of "Share" and the steps above.
[[nodiscard]] Result ConvertDsdToFloat(context::PlayRequest& request);

// Resamples the track to `rate` ("Resampling ...") when its rate differs.
[[nodiscard]] Result ResampleTo(context::PlayRequest& request, std::uint32_t rate);

}  // namespace lumaro::engine
