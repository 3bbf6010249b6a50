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

// Decoder selection: progress and failures (the chain's final failure is kErrReadFailed).
inline constexpr Text kStatusReadingWinfmp = u"Reading with WinFMP ...";
inline constexpr Text kStatusReadingPmdwin = u"Reading with PMDWin ...";
inline constexpr Text kStatusReadingFluidsynth = u"Reading with Fluidsynth ...";
inline constexpr Text kStatusReadingBuiltIn = u"Reading with built-in decoder ...";
inline constexpr Text kStatusReadingFfmpeg = u"Reading with FFmpeg ...";
inline constexpr Text kStatusReadingMediaFoundation = u"Reading with Media Foundation ...";
inline constexpr Text kStatusConvertingToFloat = u"Converting to 64bit float ...";
inline constexpr Text kErrPathNotFound = u"ERROR: path not found";
inline constexpr Text kErrDirectoryPath = u"ERROR: directory path";
inline constexpr Text kErrNonAnsiFilename = u"ERROR: Non-ANSI characters in filename";
inline constexpr Text kErrEmptyData = u"ERROR: empty data";

// Endpoint family.
inline constexpr Text kStatusCoCreateInstance = u"CoCreateInstance ...";
inline constexpr Text kErrCoCreateInstanceFailed = u"DEVICE ERROR: CoCreateInstance failed";

// Driver family.
inline constexpr Text kStatusPreparingDevice = u"Prepareting device ...";

}  // namespace lumaro::resources
