#pragma once

#include "platform/driver_api.h"

// The player's answers to a driver. A driver calls them on its own thread with no context, so
// what they change is process-wide: AsioHalf, the PlaybackEvent and the timing record.
namespace lumaro::output {

// bufferSwitch: AsioHalf becomes the half the driver does not play next, then the PlaybackEvent
// (when one exists) is signalled.
void OnBufferSwitch(std::int32_t index, bool directProcess);
// sampleRateDidChange: nothing to do.
void OnSampleRateChange(double rate);
// asioMessage: the selector query says yes only for the engine version, which answers 2; a reset
// request and changed latencies are acknowledged with 1 (nothing is done); everything else,
// the timing support query included, answers 0.
std::int32_t OnDriverMessage(std::int32_t selector, std::int32_t value, void* message,
                             double* options);
// bufferSwitchTimeInfo: answers the zeroed process-wide timing record and signals nothing. A
// driver that was told timing is not supported never calls it.
platform::driver::TimeInfo* OnBufferSwitchTimeInfo(platform::driver::TimeInfo* params,
                                                   std::int32_t index, bool directProcess);

// The four answers in the record createBuffers takes; it lives as long as the process.
const platform::driver::Callbacks& DriverCallbacks();

}  // namespace lumaro::output
