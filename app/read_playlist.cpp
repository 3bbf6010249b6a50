#include "app/read_playlist.h"

#include <exception>
#include <new>
#include <optional>
#include <string>

#include "dsp/guarded_alloc.h"
#include "dsp/paged_buffer.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::app {
namespace {

using platform::kMaxPath;

enum : Result {
  kErrPathLength = FirstCode(FailureSite::kReadPlaylist),
  kErrNoFile,
  kErrDirectory,
  kErrOpen,
  kErrListMemory,
  kErrStopped,
  kErrChunkMemory,
  kErrRead,
  kErrLineStore,
  kErrLineMemory,
  kErrEntryLength,
  kErrCanonical,
  kErrJoinLength,
  kErrJoin,
  kErrJoinedLength,
  kErrJoinedCanonical,
  kErrMissingEntry,
  kErrAppend,
  kErrMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kReadPlaylist,
    kErrMemory,
    {"play-list path too long", "play list not found", "play-list path is a directory",
     "play-list open failed", "no memory for the play list", "play-list read stopped",
     "no memory for a play-list chunk", "play-list read failed", "play-list line store failed",
     "no memory for a play-list line", "play-list entry too long", "play-list entry not canonical",
     "play-list directory too long", "play-list path join failed",
     "play-list joined entry too long", "play-list joined entry not canonical",
     "play-list entry missing", "play-list entry append failed",
     "no memory while reading the play list"}};

// The file is taken in chunks; the lines are the same as if it were read byte by byte.
constexpr std::size_t kChunkBytes = 64 * 1024;

constexpr unsigned char kLf = 0x0A;
constexpr unsigned char kCr = 0x0D;
bool IsLineEnd(unsigned char byte) { return byte == 0x00 || byte == kLf || byte == kCr; }

// Splits an open file into lines, one call per line.
class LineSource {
 public:
  explicit LineSource(platform::File& file) : file_(file) {}

  [[nodiscard]] bool Allocate() {
    chunk_.reset(new (std::nothrow) unsigned char[kChunkBytes]);
    return chunk_ != nullptr;
  }

  bool AtEnd() const { return atEnd_; }
  // The number of the line Next collected last, as an editor counts lines (from 1; CR LF is one
  // line end), for messages.
  std::uint64_t Number() const { return number_; }

  // Collects the bytes up to the next line end (not stored) or the end of the file into `line`,
  // which is cleared first. A failing read fails the line rather than ending the list early.
  [[nodiscard]] Result Next(dsp::PagedBuffer& line) {
    line.Clear();
    number_ = nextNumber_;
    for (;;) {
      if (begin_ == end_) {
        const std::int64_t got = file_.Read(chunk_.get(), kChunkBytes);
        if (got < 0) return kFailures.Note(kErrRead);
        if (got == 0) {
          atEnd_ = true;
          return kOk;
        }
        begin_ = 0;
        end_ = static_cast<std::size_t>(got);
      }
      std::size_t stop = begin_;
      while (stop < end_ && !IsLineEnd(chunk_[stop])) ++stop;
      const std::uint64_t run = stop - begin_;
      if (line.Append(chunk_.get() + begin_, run) != run) return kFailures.Note(kErrLineStore);
      if (stop < end_) {
        const unsigned char ending = chunk_[stop];
        if (!(ending == kLf && lastEnding_ == kCr && line.Length() == 0)) ++nextNumber_;
        lastEnding_ = ending;
        begin_ = stop + 1;
        return kOk;
      }
      begin_ = end_;
    }
  }

 private:
  platform::File& file_;
  std::unique_ptr<unsigned char[]> chunk_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
  std::uint64_t number_ = 1;
  std::uint64_t nextNumber_ = 1;
  unsigned char lastEnding_ = 0;
};

// Notes a refused line with its number and text, which --verbose shows.
Result NoteLine(Result code, std::uint64_t number, std::u16string_view text) noexcept {
  try {
    return kFailures.Note(
        code, "line " + std::to_string(number) + " \"" + platform::Utf16ToUtf8(text) + "\"");
  } catch (...) {
    return kFailures.Note(code);
  }
}

// Converts the stored line from UTF-8 (bad sequences become replacement characters).
Result LineText(dsp::PagedBuffer& line, std::u16string* text) {
  const std::uint64_t bytes = line.Length();
  if (!dsp::MemoryGuardAllows(bytes) || !dsp::MemoryGuardAllows(bytes * sizeof(char16_t))) {
    return kFailures.Note(kErrLineMemory);
  }
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  if (!line.SetPosition(0) || line.Read(utf8.data(), bytes) != bytes)
    return kFailures.Note(kErrLineMemory);
  *text = platform::Utf8ToUtf16(utf8);
  return kOk;
}

// Adds the path one line names: as written when that exists, else relative to the play list's
// directory. Comment lines add nothing.
Result TreatLine(std::u16string_view text, std::uint64_t number, const std::u16string& directory,
                 context::StringList& list) {
  const auto fail = [&](Result code) { return NoteLine(code, number, text); };
  if (!text.empty() && text.front() == u'#') return kOk;
  if (text.size() >= kMaxPath) return fail(kErrEntryLength);
  const std::optional<std::u16string> asWritten = platform::PathCanonicalize(text);
  if (!asWritten) return fail(kErrCanonical);
  if (platform::PathFileExists(*asWritten)) {
    return list.Append(*asWritten) == kOk ? kOk : fail(kErrAppend);
  }
  if (directory.size() + text.size() + 2 >= kMaxPath) return fail(kErrJoinLength);
  std::u16string joined = directory;
  if (!platform::PathAppend(joined, text)) return fail(kErrJoin);
  if (joined.size() >= kMaxPath) return fail(kErrJoinedLength);
  const std::optional<std::u16string> resolved = platform::PathCanonicalize(joined);
  if (!resolved) return fail(kErrJoinedCanonical);
  if (!platform::PathFileExists(*resolved)) return fail(kErrMissingEntry);
  return list.Append(*resolved) == kOk ? kOk : fail(kErrAppend);
}

// Reads the lines of the open file until its end or a stop.
Result ReadLines(platform::File& file, const std::u16string& directory,
                 const platform::StopWord& stop, context::StringList& list) {
  LineSource source(file);
  if (!source.Allocate()) return kFailures.Note(kErrChunkMemory);
  const std::unique_ptr<dsp::PagedBuffer> line = dsp::PagedBuffer::Create();
  if (!line) return kFailures.Note(kErrLineMemory);
  if (stop.Load() != 0) return kFailures.Note(kErrStopped);
  std::u16string text;
  while (!source.AtEnd()) {
    if (const Result r = source.Next(*line); r != kOk) return r;
    if (line->Length() != 0) {
      if (const Result r = LineText(*line, &text); r != kOk) return r;
      if (const Result r = TreatLine(text, source.Number(), directory, list); r != kOk) return r;
    }
    if (stop.Load() != 0) break;
  }
  return kOk;
}

Result Read(std::u16string_view path, const platform::StopWord& stop,
            std::unique_ptr<context::StringList>* list) {
  if (path.size() >= kMaxPath) return kFailures.Note(kErrPathLength);
  if (!platform::PathFileExists(path)) return kFailures.Note(kErrNoFile);
  std::u16string directory(path);
  if (!platform::PathRemoveFileSpec(directory)) return kFailures.Note(kErrDirectory);
  const std::unique_ptr<platform::File> file =
      platform::File::Open(path, platform::OpenMode::kReadExclusive);
  if (!file) return kFailures.Note(kErrOpen);
  std::unique_ptr<context::StringList> result = context::NewStringList();
  if (!result) return kFailures.Note(kErrListMemory);
  if (const Result r = ReadLines(*file, directory, stop, *result); r != kOk) return r;
  *list = std::move(result);
  return kOk;
}

}  // namespace

Result ReadPlaylistInto(std::u16string_view path, const platform::StopWord& stop,
                        std::unique_ptr<context::StringList>* list) noexcept {
  list->reset();
  try {
    return Read(path, stop, list);
  } catch (const std::exception&) {
    list->reset();
    return kFailures.Note(kErrMemory);
  }
}

std::unique_ptr<context::StringList> ReadPlaylist(std::u16string_view path,
                                                  const platform::StopWord& stop) noexcept {
  std::unique_ptr<context::StringList> list;
  if (ReadPlaylistInto(path, stop, &list) != kOk) return nullptr;
  return list;
}

}  // namespace lumaro::app
