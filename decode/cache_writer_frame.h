#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "dsp/audio_buffer.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Cache files are written in pieces of this size, with a look at the stop word before each.
inline constexpr std::uint64_t kCachePieceBytes = 1048576;

// The failures of the frame below: the partial file cannot be created, flushed, or renamed.
enum : Result {
  kErrCacheCreate = FirstCode(FailureSite::kCacheWriterFrame),
  kErrCacheFlush,
  kErrCacheRename,
};
inline constexpr platform::FailureNames kCacheFrameFailures{
    FailureSite::kCacheWriterFrame,
    kErrCacheRename,
    {"cache file create failed", "cache file flush failed", "cache file rename failed"}};

// The name a cache file is written under until it is whole: the target's name with its last
// character turned into '~' ("song.wav" is written as "song.wa~"). It is as long as the target,
// so it fits wherever the target fits, and no other track's cache file shares it.
inline std::u16string PartialCachePath(std::u16string_view target) {
  std::u16string partial(target);
  if (!partial.empty()) partial.back() = u'~';
  return partial;
}

// What the three writers share: create the partial file of `target` (truncating one a killed run
// left), run `body` on it, flush it to the storage device and give it the target's name; the
// target therefore either does not exist or is whole, whenever the process or the machine
// stops. When anything fails the partial file is deleted. Answers `body`'s result, or nonzero
// when the file cannot be created, flushed or renamed.
//
// A device or pipe named as the target (a tool writing to /dev/null) is written as it is: it
// cannot be renamed onto, flushed or deleted.
template <class Body>
Result WithCreatedFile(std::u16string_view target, Body&& body) {
  if (platform::IsSpecialFile(target)) {
    const std::unique_ptr<platform::File> device =
        platform::File::Open(target, platform::OpenMode::kCreateAlways);
    if (!device) return kCacheFrameFailures.NoteSystemFailure(kErrCacheCreate, target);
    return body(*device);
  }
  const std::u16string partial = PartialCachePath(target);
  std::unique_ptr<platform::File> file =
      platform::File::Open(partial, platform::OpenMode::kCreateAlways);
  if (!file) return kCacheFrameFailures.NoteSystemFailure(kErrCacheCreate, partial);
  Result result = body(*file);
  if (result == kOk && !file->Flush()) {
    result = kCacheFrameFailures.NoteSystemFailure(kErrCacheFlush, partial);
  }
  file.reset();
  if (result == kOk && !platform::ReplaceFile(partial, target)) {
    result = kCacheFrameFailures.NoteSystemFailure(kErrCacheRename, target);
  }
  if (result != kOk) platform::DeleteFile(partial);
  return result;
}

// Writes the real frames of `record` (frames × 16 bytes from real frame 0) in pieces, looking at
// `stop` before each; the data half of the WAV and Wave64 writers. A failed write is noted with
// `target` and the system's reason.
[[nodiscard]] Result WriteAudioFrames(platform::File& file, std::u16string_view target,
                                      const dsp::AudioBuffer& record,
                                      const platform::StopWord& stop);

}  // namespace lumaro::decode
