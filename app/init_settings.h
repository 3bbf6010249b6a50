#pragma once

#include <string>
#include <string_view>

#include "context/app_context.h"
#include "context/step_table.h"
#include "platform/result.h"

namespace lumaro::app {

// Device-list prefixes.
using context::kDriverPrefix;
using context::kEndpointPrefix;

// Failure sites of the sound-font search (the only failures of InitSettings).
enum : Result {
  kInitNoSoundFontList = FirstCode(FailureSite::kInitSettings),
  kInitProgramPathUnusable,  // empty, or 259 units or longer
  kInitNoProgramDirectory,
  kInitPatternTooLong,
  kInitPatternAppendFailed,
  kInitSoundFontAppendFailed,
};

// Puts every option back to its default: the volume-assist values with their limits and reset
// values, the DeviceList ("W: " endpoints, then "A: " drivers when AsioSupport is 1) with
// DeviceIndex 0, the RateList of that device, and the outside components found beside the
// program at `programPath` with their Use/Found words; Gapless, Cache and the FM options off.
// AsioSupport, the scan tool's values and the playback words are left alone.
//
// Thread contract: the user-interface thread while no playback runs; waits for the device-list
// threads. Failure answer: a sound-font search failure code; the lists and every word are still
// set, but there is no SoundFontList and the FM-music libraries are not looked for.
[[nodiscard]] Result InitSettings(context::AppContext& app, std::u16string_view programPath);

// As above for the running program.
[[nodiscard]] Result InitSettings(context::AppContext& app);

// Rebuilds the RateList for the DeviceList entry at DeviceIndex (none when there is no such
// entry or its prefix is unknown); ResampleIndex becomes 0. User-interface thread.
void BuildRateList(context::AppContext& app);

// The resample choices of one DeviceList entry ("W: name" or "A: name"); nullptr when it has
// none. Waits for the list's thread.
std::unique_ptr<context::StringList> RatesOfDevice(const context::AppContext& app,
                                                   std::u16string_view entry);

}  // namespace lumaro::app
