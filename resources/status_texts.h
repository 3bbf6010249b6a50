#pragma once

#include <string_view>

// The texts the player shows, each written once here and used by name everywhere else.
namespace lumaro::resources {

using Text = std::u16string_view;

// Main window.
inline constexpr Text kTextDropHere = u"Drop music files here";

// Playback engine: progress.
inline constexpr Text kStatusPlaylistReading = u"Play list reading ...";
inline constexpr Text kStatusRegistering = u"Registering file list ...";
inline constexpr Text kStatusPreparing = u"Preparing ...";
inline constexpr Text kStatusComInitializing = u"COM initializing ...";

// Playback engine: failures.
inline constexpr Text kErrOutOfMemory = u"ERROR: out of memory";
inline constexpr Text kErrPlaylistReadFailed = u"ERROR: play list read failed";
inline constexpr Text kErrNoDropFiles = u"ERROR: no drop files";
inline constexpr Text kErrNoAvailableDevices = u"ERROR: no available devices";
inline constexpr Text kErrDeviceMayNotBeAvailable = u"ERROR: device may not be available";
inline constexpr Text kErrGetFileTitle = u"ERROR: GetFileTitle";
inline constexpr Text kErrNotSameFormat = u"ERROR: not in the same format";
inline constexpr Text kErrCoInitializeFailed = u"DEVICE ERROR: CoInitialize failed";
inline constexpr Text kErrCreateEventFailed = u"ERROR: CreateEvent failed";

// Decoding: the chain's final answer while no reader is built in.
inline constexpr Text kErrReadFailed = u"ERROR: read failed";

// Endpoint family.
inline constexpr Text kStatusCoCreateInstance = u"CoCreateInstance ...";
inline constexpr Text kErrCoCreateInstanceFailed = u"DEVICE ERROR: CoCreateInstance failed";

// Rate change, 1-bit modulation and output conversion (shown by the engine before each stage,
// and after a conversion that left no frames).
inline constexpr Text kStatusResampling = u"Resampling ...";
inline constexpr Text kStatusConvertingTo1Bit = u"Converting to 1bit ...";
inline constexpr Text kStatusConvertingToOutput = u"Converting to output data ...";
inline constexpr Text kErrNotEnoughData = u"ERROR: not enough data";

// Driver family.
inline constexpr Text kStatusPreparingDevice = u"Prepareting device ...";

}  // namespace lumaro::resources
