#pragma once

#include <cstddef>
#include <cstdint>

namespace lumaro {

// Every operation of the player answers 0 for success and a nonzero value that marks the site
// of the failure. Callers act only on zero versus nonzero. Each value is unique in the program:
// every file that fails numbers its sites from the first code of its own block below.
using Result = std::uint32_t;

inline constexpr Result kOk = 0;

// The files (or the public headers) that own failure codes, one block each.
enum class FailureSite : unsigned {
  kStepMachine,
  kGaplessJoin,
  kFeeding,
  kTrackPreparation,
  kEndpointSteps,
  kDriverSteps,
  kAlsaDevices,
  kFileOutput,
  kInitSettings,
  kDriverLists,
  kScanStopped,
  kScanMusicFiles,
  kReadPlaylist,
  kFmChild,
  kDecodeTrack,
  kWavReader,
  kDsfReader,
  kDsdiffReader,
  kFfmpegReader,
  kFluidsynthReader,
  kWavStream,
  kChildRun,
  kFmMusicReader,
  kPlatformDecoderReader,
  kCacheWriterFrame,
  kWavCacheWriter,
  kWave64CacheWriter,
  kDsdiffCacheWriter,
  kCacheFile,
  kMemoryGuard,
  kAudioBuffer,
  kPcmBuffer,
  kDsdBuffer,
  kParallelFor,
  kPcmToFloat,
  kDsdToFloat,
  kFloatToOutput,
  kPackDop,
  kInterpolate,
  kDecimate,
  kResample,
  kPeakNormalize,
  kClipGuard,
  kHalfWaveLimiter,
  kLoudnessNormalize,
  kCompress,
  kToOneBit,
  kStringList,
  kStageFiles,
  kTests,  // codes of test doubles
  kCount,
};

// The codes a site may use: `room` values from `first` on.
struct FailureBlock {
  FailureSite site;
  Result first;
  Result room;
};

// In FailureSite order; the values of sites that existed before this table are kept.
inline constexpr FailureBlock kFailureBlocks[] = {
    {FailureSite::kStepMachine, 0x1100, 0x100},
    {FailureSite::kGaplessJoin, 0x1200, 0x100},
    {FailureSite::kFeeding, 0x1400, 0x100},
    {FailureSite::kTrackPreparation, 0x1500, 0x100},
    {FailureSite::kEndpointSteps, 0x2200, 0x100},
    {FailureSite::kDriverSteps, 0x2300, 0x100},
    {FailureSite::kAlsaDevices, 0x2401, 0xFF},
    {FailureSite::kFileOutput, 0x2501, 0xFF},
    {FailureSite::kInitSettings, 0x3301, 0xFF},
    {FailureSite::kDriverLists, 0x3401, 0xFF},
    {FailureSite::kScanStopped, 0x3501, 0x0F},
    {FailureSite::kScanMusicFiles, 0x3510, 0xF0},
    {FailureSite::kReadPlaylist, 0x3601, 0xFF},
    {FailureSite::kFmChild, 0x3701, 0xFF},
    {FailureSite::kDecodeTrack, 0x4101, 0xFF},
    {FailureSite::kWavReader, 0x4201, 0xFF},
    {FailureSite::kDsfReader, 0x4301, 0xFF},
    {FailureSite::kDsdiffReader, 0x4401, 0xFF},
    {FailureSite::kFfmpegReader, 0x4501, 0x10},
    {FailureSite::kFluidsynthReader, 0x4511, 0x2F},
    {FailureSite::kWavStream, 0x4541, 0x3F},
    {FailureSite::kChildRun, 0x4581, 0x7F},
    {FailureSite::kFmMusicReader, 0x4601, 0xFF},
    {FailureSite::kPlatformDecoderReader, 0x4701, 0xFF},
    {FailureSite::kCacheWriterFrame, 0x4801, 0x10},
    {FailureSite::kWavCacheWriter, 0x4811, 0x10},
    {FailureSite::kWave64CacheWriter, 0x4821, 0x10},
    {FailureSite::kDsdiffCacheWriter, 0x4831, 0x10},
    {FailureSite::kCacheFile, 0x4841, 0xBF},
    {FailureSite::kMemoryGuard, 0x5001, 0x10},
    {FailureSite::kAudioBuffer, 0x5011, 0x10},
    {FailureSite::kPcmBuffer, 0x5021, 0x10},
    {FailureSite::kDsdBuffer, 0x5031, 0xD0},
    {FailureSite::kParallelFor, 0x5101, 0xFF},
    {FailureSite::kPcmToFloat, 0x5201, 0x20},
    {FailureSite::kDsdToFloat, 0x5221, 0xE0},
    {FailureSite::kFloatToOutput, 0x5301, 0x10},
    {FailureSite::kPackDop, 0x5311, 0xF0},
    {FailureSite::kInterpolate, 0x5401, 0x10},
    {FailureSite::kDecimate, 0x5411, 0x10},
    {FailureSite::kResample, 0x5421, 0xE0},
    {FailureSite::kPeakNormalize, 0x5501, 0x10},
    {FailureSite::kClipGuard, 0x5511, 0x10},
    {FailureSite::kHalfWaveLimiter, 0x5521, 0x10},
    {FailureSite::kLoudnessNormalize, 0x5531, 0xD0},
    {FailureSite::kCompress, 0x5601, 0xFF},
    {FailureSite::kToOneBit, 0x5801, 0xFF},
    {FailureSite::kStringList, 0x6001, 0xFF},
    {FailureSite::kStageFiles, 0x7001, 0xFF},
    {FailureSite::kTests, 0xF001, 0xFFF},
};

// The first code of a site's block.
constexpr Result FirstCode(FailureSite site) {
  return kFailureBlocks[static_cast<std::size_t>(site)].first;
}

// True when every site has its block, in order, and no two blocks share a value (0 included).
constexpr bool FailureBlocksAreApart() {
  constexpr std::size_t count = static_cast<std::size_t>(FailureSite::kCount);
  if (sizeof kFailureBlocks / sizeof kFailureBlocks[0] != count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    const FailureBlock& a = kFailureBlocks[i];
    if (static_cast<std::size_t>(a.site) != i || a.first == kOk || a.room == 0) return false;
    if (a.first > UINT32_MAX - a.room) return false;
    for (std::size_t j = i + 1; j < count; ++j) {
      const FailureBlock& b = kFailureBlocks[j];
      if (a.first < b.first + b.room && b.first < a.first + a.room) return false;
    }
  }
  return true;
}
static_assert(FailureBlocksAreApart(), "two failure blocks overlap, or a site has none");

}  // namespace lumaro
