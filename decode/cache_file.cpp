#include "decode/cache_file.h"

#include "decode/cache_writers.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrDirectory = FirstCode(FailureSite::kCacheFile),
  kErrPathTooLong,
  kErrWrongRecord
};
constexpr platform::FailureNames kFailures{
    FailureSite::kCacheFile,
    kErrWrongRecord,
    {"cache path without a directory", "cache path too long", "cache of an unknown record"}};

// The longest path text this rule builds (the path limit less its terminator).
constexpr std::size_t kMaxPathUnits = platform::kMaxPath - 1;

}  // namespace

CacheFormat CacheFormatFor(bool oneBit, std::uint64_t frames) noexcept {
  if (oneBit) return CacheFormat::kDsdiff;
  constexpr std::uint64_t kWavLimit = 4294967295ULL;
  constexpr std::uint64_t kMaxWavFrames =
      (kWavLimit - 1 - kWavCacheHeaderBytes) / dsp::kAudioFrameBytes;
  return frames <= kMaxWavFrames ? CacheFormat::kWav : CacheFormat::kWave64;
}

std::u16string_view CacheExtension(CacheFormat format) noexcept {
  switch (format) {
    case CacheFormat::kWav:
      return u".wav";
    case CacheFormat::kWave64:
      return u".w64";
    case CacheFormat::kDsdiff:
      break;
  }
  return u".dff";
}

std::optional<std::u16string> CacheFilePath(std::u16string_view directory,
                                            std::u16string_view trackPath, CacheFormat format) {
  if (directory.empty() || directory.size() >= kMaxPathUnits) return std::nullopt;
  const std::u16string_view fileName = platform::PathFindFileName(trackPath);
  if (fileName.empty() || directory.size() + 2 + fileName.size() > kMaxPathUnits) {
    return std::nullopt;
  }
  std::u16string path(directory);
  if (!platform::PathAppend(path, fileName)) return std::nullopt;
  path.resize(path.size() - platform::PathFindExtension(path).size());
  const std::u16string_view extension = CacheExtension(format);
  if (path.size() + 1 + extension.size() > kMaxPathUnits) return std::nullopt;
  path += extension;
  return path;
}

Result WriteCacheFile(std::u16string_view trackPath, const dsp::BufferSlot& record, bool oneBit,
                      const platform::StopWord& stop, std::u16string_view directory) {
  const std::u16string playerDirectory =
      directory.empty() ? platform::ExecutableDirectory() : std::u16string(directory);
  const dsp::AudioBuffer* audio = record.Get<dsp::AudioBuffer>();
  const dsp::DsdBuffer* dsd = record.Get<dsp::DsdBuffer>();
  if (oneBit ? dsd == nullptr : audio == nullptr) return kFailures.Note(kErrWrongRecord);
  const CacheFormat format = CacheFormatFor(oneBit, oneBit ? dsd->length : audio->frameCount);
  if (playerDirectory.empty()) return kFailures.Note(kErrDirectory);
  const std::optional<std::u16string> target = CacheFilePath(playerDirectory, trackPath, format);
  if (!target) return kFailures.Note(kErrPathTooLong);
  if (platform::PathFileExists(*target)) return kOk;
  switch (format) {
    case CacheFormat::kWav:
      return WriteWavCache(*target, *audio, stop);
    case CacheFormat::kWave64:
      return WriteWave64Cache(*target, *audio, stop);
    case CacheFormat::kDsdiff:
      break;
  }
  return WriteDsdiffCache(*target, *dsd, stop);
}

}  // namespace lumaro::decode
