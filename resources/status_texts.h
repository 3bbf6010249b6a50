#pragma once

#include <string_view>

// The texts the player shows, each written once here and used by name everywhere else.
namespace lumaro::resources {

using Text = std::u16string_view;

// Main window.
inline constexpr Text kTextDropHere = u"Drop music files here";

// Resample choices of the rate list besides the rates themselves (matched ignoring case).
inline constexpr Text kRateShare = u"Share";
inline constexpr Text kRateAuto = u"Auto";

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

// Preparing a track for its device.
inline constexpr Text kStatusSettingPriority = u"Setting process priority ...";
inline constexpr Text kErrPriorityFailed = u"ERROR: AvSetMmThreadCharacteristics failed";
inline constexpr Text kStatusVolumeAssistStarting = u"Volume assist starting ...";
inline constexpr Text kStatusWritingCache = u"Writing cache file ...";
inline constexpr Text kErrCacheWriteFailed = u"ERROR: cache file write failed";

// Feeding a device.
inline constexpr Text kErrWaitFailed = u"ERROR: WaitForSingleObject failed";

// Decoding: the chain's final answer while no reader is built in.
inline constexpr Text kErrReadFailed = u"ERROR: read failed";

// Decoder selection: progress and failures (the chain's final failure is kErrReadFailed).
inline constexpr Text kStatusReadingWinfmp = u"Reading with WinFMP ...";
inline constexpr Text kStatusReadingPmdwin = u"Reading with PMDWin ...";
inline constexpr Text kStatusReadingFluidsynth = u"Reading with Fluidsynth ...";
inline constexpr Text kStatusReadingBuiltIn = u"Reading with built-in decoder ...";
inline constexpr Text kStatusReadingFfmpeg = u"Reading with FFmpeg ...";
// The platform decoder's text: Media Foundation on Windows, libsndfile elsewhere.
inline constexpr Text kStatusReadingMediaFoundation = u"Reading with Media Foundation ...";
inline constexpr Text kStatusReadingLibsndfile = u"Reading with libsndfile ...";
inline constexpr Text kStatusConvertingToFloat = u"Converting to 64bit float ...";
inline constexpr Text kErrPathNotFound = u"ERROR: path not found";
inline constexpr Text kErrDirectoryPath = u"ERROR: directory path";
inline constexpr Text kErrNonAnsiFilename = u"ERROR: Non-ANSI characters in filename";
inline constexpr Text kErrEmptyData = u"ERROR: empty data";

// Endpoint family.
inline constexpr Text kStatusCoCreateInstance = u"CoCreateInstance ...";
inline constexpr Text kStatusCreatingEndPoint = u"Creating end point ...";
inline constexpr Text kStatusActivatingDevice = u"Activating device ...";
inline constexpr Text kStatusSelectingFormat = u"Selecting output format ...";
inline constexpr Text kStatusDeviceInitializing = u"Device initializing ...";
inline constexpr Text kStatusStarting = u"Starting ...";
inline constexpr Text kErrCoCreateInstanceFailed = u"DEVICE ERROR: CoCreateInstance failed";
inline constexpr Text kErrEnumAudioEndpointsFailed = u"DEVICE ERROR: EnumAudioEndpoints failed";
inline constexpr Text kErrGetCountFailed = u"DEVICE ERROR: GetCount failed";
inline constexpr Text kErrDeviceNotFound = u"DEVICE ERROR: device not found";
inline constexpr Text kErrActivateFailed = u"DEVICE ERROR: Activate failed";
inline constexpr Text kErrIsFormatSupported = u"DEVICE ERROR: IsFormatSupported";
inline constexpr Text kErrUnsupportedSampleRate = u"DEVICE ERROR: unsupported sample rate";
inline constexpr Text kErrUnsupportedAudioFormat = u"DEVICE ERROR: unsupported audio format";
inline constexpr Text kErrInitializeFailed = u"DEVICE ERROR: Initialize failed";
inline constexpr Text kErrGetBufferSizeFailed = u"DEVICE ERROR: GetBufferSize failed";
inline constexpr Text kErrSetEventHandleFailed = u"DEVICE ERROR: SetEventHandle failed";
inline constexpr Text kErrGetServiceFailed = u"DEVICE ERROR: GetService failed";
inline constexpr Text kErrGetBufferFailed = u"DEVICE ERROR: GetBuffer failed";
inline constexpr Text kErrStartFailed = u"DEVICE ERROR: Start failed";
inline constexpr Text kErrGetCurrentPadding = u"DEVICE ERROR: GetCurrentPadding";

// Rate change, 1-bit modulation and output conversion (shown by the engine before each stage,
// and after a conversion that left no frames).
inline constexpr Text kStatusResampling = u"Resampling ...";
inline constexpr Text kStatusConvertingTo1Bit = u"Converting to 1bit ...";
inline constexpr Text kStatusConvertingToOutput = u"Converting to output data ...";
inline constexpr Text kErrNotEnoughData = u"ERROR: not enough data";

// Driver family (with the endpoint family's progress texts and "device not found").
inline constexpr Text kStatusPreparingDevice = u"Prepareting device ...";
inline constexpr Text kErrCoCreateInstance = u"DEVICE ERROR: CoCreateInstance";
inline constexpr Text kErrDeviceNotAvailable = u"DEVICE ERROR: device not available";
inline constexpr Text kErrInitFailed = u"DEVICE ERROR: init failed";
inline constexpr Text kErrFutureFailed = u"DEVICE ERROR: future failed";
inline constexpr Text kErrInternalError = u"ERROR: internal error";
inline constexpr Text kErrDriverGetBufferSizeFailed = u"DEVICE ERROR: getBufferSize failed";
inline constexpr Text kErrCreateBuffersFailed = u"DEVICE ERROR: createBuffers failed";
inline constexpr Text kErrGetChannelInfoFailed = u"DEVICE ERROR: getChannelInfo failed";
inline constexpr Text kErrUnsupportedFormat = u"DEVICE ERROR: unsupported format";
inline constexpr Text kErrDriverStartFailed = u"ERROR: start failed";

// Volume assist: progress, shown by the engine before it runs each stage.
inline constexpr Text kStatusCompressing = u"Compressing ...";
inline constexpr Text kStatusLoudnessNormalizing = u"Loudness normalizing ...";
inline constexpr Text kStatusPeakNormalizing = u"Peak normalizing ...";

// Scan music files tool: the dialog's texts and the scan's progress and results.
inline constexpr Text kScanCaption = u"Scan music files";
inline constexpr Text kScanPrompt = u"Drop directory or music files here";
inline constexpr Text kScanExtensionLabel = u"File extension:";
inline constexpr Text kScanAddPathLabel = u"Add path to playlist name";
inline constexpr Text kScanResetLabel = u" Reset ";
inline constexpr Text kScanStopLabel = u"\u25A0";
inline constexpr Text kScanProcessing = u"Processing ...";
inline constexpr Text kScanCompleted = u"Completed";
inline constexpr Text kScanTerminated = u"Terminated";
inline constexpr Text kScanAbortedByError = u"Aborted by error";

// Application shell: the main window, its popup menu, the configuration dialog and the three
// volume-assist dialogs. The volume-assist dialogs' captions are their entries in the volume
// assist list; " Reset " and the stop button's mark are shared with the scan tool.
inline constexpr Text kMainCaption = u"Lumaro 1.31";
inline constexpr Text kMainTemplateCaption = u" Lumaro";
inline constexpr Text kTimeTextSizer = u" 999:00/999:00 ";
inline constexpr Text kMenuConfiguration = u"Configuration ...";
inline constexpr Text kMenuScanMusicFiles = u"Scan music files ...";
inline constexpr Text kMenuAsioSupport = u"ASIO support";
inline constexpr Text kConfigCaption = u"Configuration";
inline constexpr Text kConfigDeviceLabel = u" Device ";
inline constexpr Text kConfigVolumeAssistLabel = u" Volume assist ";
inline constexpr Text kConfigResampleLabel = u" Resample ";
inline constexpr Text kConfigSoundFont1Label = u" Sound font 1";
inline constexpr Text kConfigSoundFont2Label = u" Sound font 2";
inline constexpr Text kConfigSoundFont3Label = u" Sound font 3";
inline constexpr Text kConfigFfmpeg = u"FFmpeg ";
inline constexpr Text kConfigFluidsynth = u"Fluidsynth ";
inline constexpr Text kConfigWinfmp = u"WinFMP  ";
inline constexpr Text kConfigPmdwin = u"PMDWin ";
inline constexpr Text kConfigGapless = u"Gapless ";
inline constexpr Text kConfigCache = u"Cache ";
inline constexpr Text kConfigPps = u"PPS ";
inline constexpr Text kConfigSsgRhy = u"SSG+RHY ";
inline constexpr Text kOptionLabel = u" Option ";
inline constexpr Text kAssistNoneEntry = u"None";
inline constexpr Text kAssistPeakEntry = u"Peak normalization";
inline constexpr Text kAssistCompressionEntry = u"Compression";
inline constexpr Text kAssistLoudnessEntry = u"Loudness normalization";
inline constexpr Text kLoudnessTypeArv = u"ARV";
inline constexpr Text kLoudnessTypeRms = u"RMS";
inline constexpr Text kSwitchOff = u"Off";
inline constexpr Text kSwitchOn = u"On";
inline constexpr Text kCompDownwardLabel = u" Downward compression ";
inline constexpr Text kCompThresholdLabel = u" Threshold ";
inline constexpr Text kCompUpwardLabel = u" Upward compression ";
inline constexpr Text kCompMaxAmplificationLabel = u" Maximum amplification ";
inline constexpr Text kCompCellSizeLabel = u" Cell size ";
inline constexpr Text kCompTimeLagBalanceLabel = u" Time lag balance ";
inline constexpr Text kCompLoudnessTypeLabel = u"Loudness type ";
inline constexpr Text kCompPeakNormalizationLabel = u"Peak normalization ";
inline constexpr Text kLoudnessTargetLabel = u"  Target loudness level ";
inline constexpr Text kLoudnessTypeLabel = u"  Loudness type ";
inline constexpr Text kPeakTargetLabel = u" Target peak level ";
inline constexpr Text kValueSizer3 = u" 999 ";
inline constexpr Text kValueSizer4 = u" 9999 ";

}  // namespace lumaro::resources
