#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "dsp/audio_buffer.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Cache files are written in pieces of this size, with a look at the stop word before each.
inline constexpr std::uint64_t kCachePieceBytes = 1048576;

// The one failure of the frame below: the cache file cannot be created.
inline constexpr Result kErrCacheCreate = FirstCode(FailureSite::kCacheWriterFrame);
inline constexpr platform::FailureNames kCacheCreateFailures{
    FailureSite::kCacheWriterFrame, kErrCacheCreate, {"cache file create failed"}};

// What the three writers share: create `target` (always, truncating), run `body` on the open
// file, close it, and delete it when `body` failed. Answers `body`'s result, or nonzero when the
// file cannot be created.
template <class Body>
Result WithCreatedFile(std::u16string_view target, Body&& body) {
  std::unique_ptr<platform::File> file =
      platform::File::Open(target, platform::OpenMode::kCreateAlways);
  if (!file) return kCacheCreateFailures.Note(kErrCacheCreate, target);
  const Result result = body(*file);
  file.reset();
  if (result != kOk) platform::DeleteFile(target);
  return result;
}

// Writes the real frames of `record` (frames × 16 bytes from real frame 0) in pieces, looking at
// `stop` before each; the data half of the WAV and Wave64 writers.
[[nodiscard]] Result WriteAudioFrames(platform::File& file, const dsp::AudioBuffer& record,
                                      const platform::StopWord& stop);

}  // namespace lumaro::decode
