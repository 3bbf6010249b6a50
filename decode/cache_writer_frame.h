#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "dsp/audio_buffer.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/result.h"
#include "platform/shared_word.h"
#include "platform/whole_file.h"

namespace lumaro::decode {

// Cache files are written in pieces of this size, with a look at the stop word before each (64 KiB
// in the fuzz build, whose inputs are kilobytes).
#ifdef LUMARO_FUZZ_BUILD
inline constexpr std::uint64_t kCachePieceBytes = 65536;
#else
inline constexpr std::uint64_t kCachePieceBytes = 1048576;
#endif

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

// What the three writers share: platform::WriteWholeFile with the frame's failures. The target
// either does not exist or is whole, whenever the process or the machine stops.
template <class Body>
Result WithCreatedFile(std::u16string_view target, Body&& body) {
  return platform::WriteWholeFile(target, std::forward<Body>(body),
                                  [](platform::WholeFileStep step, std::u16string_view path) {
                                    return kCacheFrameFailures.NoteSystemFailure(
                                        kErrCacheCreate + static_cast<Result>(step), path);
                                  });
}

// Writes the real frames of `record` (frames × 16 bytes from real frame 0) in pieces, looking at
// `stop` before each; the data half of the WAV and Wave64 writers. A failed write is noted with
// `target` and the system's reason.
[[nodiscard]] Result WriteAudioFrames(platform::File& file, std::u16string_view target,
                                      const dsp::AudioBuffer& record,
                                      const platform::StopWord& stop);

}  // namespace lumaro::decode
