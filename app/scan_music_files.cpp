#include "app/scan_music_files.h"

#include <cstdio>
#include <exception>
#include <string>

#include "context/step_table.h"
#include "platform/failure.h"
#include "platform/path.h"
#include "platform/text.h"
#include "platform/whole_file.h"
#include "resources/scan_dialog_template.h"
#include "resources/status_texts.h"

namespace lumaro::app {
namespace {

using platform::kMaxPath;
using platform::ui::Dialog;
namespace res = resources;

enum : Result {
  kErrNoWords = FirstCode(FailureSite::kScanMusicFiles),
  kErrProgramPath,
  kErrProgramDirectory,
  kErrListMemory,
  kErrLooseAppend,
  kErrTimeName,
  kErrPatternLength,
  kErrEntryLength,
  kErrEntryAppend,
  kErrPlaylistName,
  kErrPrefixLength,
  kErrCreate,
  kErrWrite,
  kErrMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kScanMusicFiles,
    kErrMemory,
    {"scan without extension words", "scan program path unusable", "scan program directory failed",
     "no memory for the scan list", "scan loose-file append failed", "scan time name failed",
     "scan pattern too long", "scan entry too long", "scan entry append failed",
     "play-list name too long", "scan prefix too long", "play-list create failed",
     "play-list write failed", "no memory for the scan"}};

constexpr platform::FailureNames kStopFailures{
    FailureSite::kScanStopped, kScanStopped, {"scan stopped"}};

// A sample of the longest time-based name, for the length check.
constexpr std::u16string_view kLongestTimeName = u"655350101_235959_999.m3u8";
constexpr std::u16string_view kSearchPattern = u"*.*";
constexpr std::string_view kLineEnd = "\r\n";

bool Stopped(const ScanJob& job) { return job.App->PlayCommand.Load() != 0; }

// `directory` joined with `name` by one separator.
std::u16string Join(std::u16string_view directory, std::u16string_view name) {
  std::u16string joined(directory);
  if (!joined.empty() && !platform::IsPathSeparator(joined.back())) {
    joined.push_back(platform::kPathSeparator);
  }
  joined.append(name);
  return joined;
}

// True when the file's extension (without its dot, at least one character) is one of the words,
// compared exactly or ignoring case. No words at all take every file.
bool IsMusicFile(std::u16string_view path, const context::StringList& words, bool ignoreCase) {
  if (words.Count() == 0) return true;
  const std::u16string_view extension = platform::PathFindExtension(path);
  if (extension.size() < 2) return false;
  const std::u16string_view bare = extension.substr(1);
  for (std::int32_t i = 0; i < words.Count(); ++i) {
    const std::u16string& word = *words.Entry(i);
    if (ignoreCase ? platform::EqualNoCase(bare, word) : bare == word) return true;
  }
  return false;
}

// Writes all of `bytes`; a write that moves nothing is a failure.
bool WriteAll(platform::File& file, std::string_view bytes) {
  while (!bytes.empty()) {
    const std::int64_t put = file.Write(bytes.data(), bytes.size());
    if (put <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// Sorts the files and writes them one UTF-8 path per line, each ended by CR LF, without a
// byte-order mark. A failed write closes and deletes the file.
Result WritePlaylist(const std::u16string& path, context::StringList& files) {
  files.Sort();
  const auto writeLines = [&](platform::File& file) -> Result {
    for (std::int32_t i = 0; i < files.Count(); ++i) {
      if (!WriteAll(file, platform::Utf16ToUtf8(*files.Entry(i))) || !WriteAll(file, kLineEnd)) {
        return kFailures.NoteSystemFailure(kErrWrite, path);
      }
    }
    return kOk;
  };
  // Whole or absent, even when the scan is ended mid-list.
  return platform::WriteWholeFile(
      path, writeLines, [](platform::WholeFileStep step, std::u16string_view failedPath) {
        return kFailures.NoteSystemFailure(
            step == platform::WholeFileStep::kCreate ? kErrCreate : kErrWrite, failedPath);
      });
}

// A dropped directory without trailing separators (a root stays as it is).
std::u16string WithoutTrailingSeparators(std::u16string path) {
  while (path.size() > 1 && platform::IsPathSeparator(path.back()) && !platform::PathIsRoot(path)) {
    path.pop_back();
  }
  return path;
}

// One directory of the walk: writes its play list, then visits its subdirectories in the order
// found, each with the prefix this directory hands down.
Result VisitDirectory(ScanJob& job, const std::u16string& prefix, const std::u16string& directory) {
  if (directory.size() + 2 + kSearchPattern.size() >= kMaxPath)
    return kFailures.Note(kErrPatternLength);
  std::vector<platform::DirectoryEntry> entries;
  // A directory that cannot be listed is taken as empty, like an entry that cannot be examined.
  if (!platform::ListDirectory(directory, &entries)) entries.clear();

  const std::unique_ptr<context::StringList> files = context::NewStringList();
  const std::unique_ptr<context::StringList> subdirectories = context::NewStringList();
  if (!files || !subdirectories) return kFailures.Note(kErrListMemory);
  for (const platform::DirectoryEntry& entry : entries) {
    if (Stopped(job)) return kStopFailures.Note(kScanStopped);
    if (directory.size() + 2 + entry.name.size() >= kMaxPath)
      return kFailures.Note(kErrEntryLength);
    const std::u16string full = Join(directory, entry.name);
    platform::FileAttributes attributes;
    if (!platform::GetFileAttributes(full, &attributes)) continue;
    if (attributes.directory) {
      if (subdirectories->Append(full) != kOk) return kFailures.Note(kErrEntryAppend);
    } else if (IsMusicFile(full, *job.Words, /*ignoreCase=*/true)) {
      if (files->Append(full) != kOk) return kFailures.Note(kErrEntryAppend);
    }
  }

  if (files->Count() > 0) {
    const std::optional<std::u16string> playlist =
        DirectoryPlaylistPath(job.OutputDir, prefix, directory, platform::CurrentLocalTime());
    if (!playlist) return kFailures.Note(kErrPlaylistName);
    if (const Result r = WritePlaylist(*playlist, *files); r != kOk) return r;
  }

  for (std::int32_t i = 0; i < subdirectories->Count(); ++i) {
    const std::optional<std::u16string> childPrefix =
        SubdirectoryPrefix(prefix, directory, job.App->ScanAddPath.Load() == 1);
    if (!childPrefix) return kFailures.Note(kErrPrefixLength);
    if (const Result r = VisitDirectory(job, *childPrefix, *subdirectories->Entry(i)); r != kOk) {
      return r;
    }
  }
  return kOk;
}

// The program's directory, from its own path (accepted at 1 to 258 characters).
Result ProgramDirectory(std::u16string* directory) {
  std::u16string path = platform::ExecutablePath();
  if (path.empty() || path.size() > kMaxPath - 2) return kFailures.Note(kErrProgramPath);
  if (!platform::PathRemoveFileSpec(path)) return kFailures.Note(kErrProgramDirectory);
  *directory = std::move(path);
  return kOk;
}

Result Scan(ScanJob& job) {
  if (job.OutputDir.empty()) {
    if (const Result r = ProgramDirectory(&job.OutputDir); r != kOk) return r;
  }
  job.Words = context::NewStringList();
  if (!job.Words) return kFailures.Note(kErrNoWords);
  if (const Result r = SplitExtensionWords(job.ExtensionText, *job.Words); r != kOk) return r;

  const std::unique_ptr<context::StringList> looseFiles = context::NewStringList();
  const std::unique_ptr<context::StringList> directories = context::NewStringList();
  if (!looseFiles || !directories) return kFailures.Note(kErrListMemory);
  for (std::int32_t i = 0; i < job.Paths->Count(); ++i) {
    if (Stopped(job)) return kStopFailures.Note(kScanStopped);
    const std::u16string& path = *job.Paths->Entry(i);
    platform::FileAttributes attributes;
    if (!platform::GetFileAttributes(path, &attributes)) continue;
    if (attributes.directory) {
      if (directories->Append(WithoutTrailingSeparators(path)) != kOk)
        return kFailures.Note(kErrLooseAppend);
    } else if (IsMusicFile(path, *job.Words, /*ignoreCase=*/false)) {
      if (looseFiles->Append(path) != kOk) return kFailures.Note(kErrLooseAppend);
    }
  }

  if (looseFiles->Count() > 0) {
    const std::optional<std::u16string> playlist =
        TimePlaylistPath(job.OutputDir, platform::CurrentLocalTime());
    if (!playlist) return kFailures.Note(kErrTimeName);
    if (const Result r = WritePlaylist(*playlist, *looseFiles); r != kOk) return r;
  }
  for (std::int32_t i = 0; i < directories->Count(); ++i) {
    if (const Result r = VisitDirectory(job, u"", *directories->Entry(i)); r != kOk) return r;
  }
  return kOk;
}

// The controls while a scan runs (`scanning`) or after it.
void ShowScanning(Dialog& dialog, bool scanning) {
  if (scanning) {
    dialog.Enable(res::kIdScanExtensions, false);
    dialog.Enable(res::kIdScanAddPath, false);
    dialog.Enable(res::kIdScanStop, true);
    dialog.Show(res::kIdScanStop, true);
    dialog.Show(res::kIdScanReset, false);
    dialog.Enable(res::kIdScanReset, false);
    return;
  }
  dialog.Show(res::kIdScanReset, true);
  dialog.Enable(res::kIdScanReset, true);
  dialog.Enable(res::kIdScanStop, false);
  dialog.Show(res::kIdScanStop, false);
  dialog.Enable(res::kIdScanAddPath, true);
  dialog.Enable(res::kIdScanExtensions, true);
}

}  // namespace

bool IsExtensionWordChar(char16_t c) {
  if (c < 0x80) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  }
  if (c <= 0xFF) {
    // Latin-1: the letters, and the ordinal and micro signs that count as letters.
    return (c >= 0xC0 && c != 0xD7 && c != 0xF7) || c == 0xAA || c == 0xB5 || c == 0xBA;
  }
  // Beyond Latin-1 everything is a letter except spaces, punctuation and symbols of the blocks
  // that hold them, and the surrogates and private use area.
  const bool generalPunctuation = c >= 0x2000 && c <= 0x2BFF;
  const bool cjkPunctuation = c >= 0x3000 && c <= 0x303F;
  const bool surrogateOrPrivate = c >= 0xD800 && c <= 0xF8FF;
  const bool fullWidthPunctuation = (c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) ||
                                    (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65) ||
                                    c >= 0xFFF0;
  return !(generalPunctuation || cjkPunctuation || surrogateOrPrivate || fullWidthPunctuation);
}

Result SplitExtensionWords(std::u16string_view text, context::StringList& words) {
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && !IsExtensionWordChar(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && IsExtensionWordChar(text[i])) ++i;
    if (i > start && words.Append(text.substr(start, i - start)) != kOk)
      return kFailures.Note(kErrNoWords);
  }
  return kOk;
}

std::optional<std::u16string> TimePlaylistPath(std::u16string_view outputDir,
                                               const platform::LocalTime& time) {
  if (outputDir.size() + 2 + kLongestTimeName.size() >= kMaxPath) return std::nullopt;
  char name[64];
  std::snprintf(name, sizeof name, "%d%02d%02d_%02d%02d%02d_%03d.m3u8", time.year, time.month,
                time.day, time.hour, time.minute, time.second, time.milliseconds);
  return Join(outputDir, platform::Utf8ToUtf16(name));
}

std::optional<std::u16string> DirectoryPlaylistPath(std::u16string_view outputDir,
                                                    std::u16string_view prefix,
                                                    std::u16string_view directory,
                                                    const platform::LocalTime& time) {
  if (platform::PathIsRoot(directory)) return TimePlaylistPath(outputDir, time);
  const std::u16string_view component = platform::PathFindFileName(directory);
  if (prefix.size() + 8 + component.size() + outputDir.size() >= kMaxPath) return std::nullopt;
  std::u16string name(prefix);
  if (!name.empty()) name.push_back(u' ');
  name.append(component);
  name.append(context::kPlaylistExtension);
  return Join(outputDir, name);
}

std::optional<std::u16string> SubdirectoryPrefix(std::u16string_view prefix,
                                                 std::u16string_view directory, bool addPath) {
  if (!addPath) return std::u16string();
  std::u16string next(prefix);
  if (platform::PathIsRoot(directory)) return next;
  const std::u16string_view component = platform::PathFindFileName(directory);
  if (prefix.size() + 2 + component.size() >= kMaxPath) return std::nullopt;
  if (!next.empty()) next.push_back(u' ');
  next.append(component);
  return next;
}

Result RunScan(ScanJob& job) noexcept {
  try {
    return Scan(job);
  } catch (const std::exception&) {
    return kFailures.Note(kErrMemory);
  }
}

Result RunScanJob(std::unique_ptr<ScanJob> job) noexcept {
  context::AppContext& app = *job->App;
  Dialog* dialog = job->Dialog;
  app.PlayCommand = context::kCommandNone;
  if (dialog != nullptr) {
    ShowScanning(*dialog, true);
    dialog->SetText(res::kIdScanMessage, res::kScanProcessing);
  }
  const Result result = RunScan(*job);
  if (dialog != nullptr) {
    dialog->SetText(res::kIdScanMessage, result == kOk ? res::kScanCompleted
                                         : app.PlayCommand.Load() != context::kCommandNone
                                             ? res::kScanTerminated
                                             : res::kScanAbortedByError);
    ShowScanning(*dialog, false);
  }
  job.reset();
  return result;
}

Result ScanMusicFiles(context::AppContext& app, const std::vector<std::u16string>& paths,
                      std::u16string_view extensionText, std::u16string_view outputDir,
                      Dialog* dialog) noexcept {
  try {
    auto job = std::make_unique<ScanJob>();
    job->App = &app;
    job->Dialog = dialog;
    job->Paths = context::NewStringList();
    if (!job->Paths) return kFailures.Note(kErrListMemory);
    for (const std::u16string& path : paths) {
      if (job->Paths->Append(path) != kOk) return kFailures.Note(kErrListMemory);
    }
    job->ExtensionText = extensionText;
    job->OutputDir = outputDir;
    return RunScanJob(std::move(job));
  } catch (const std::exception&) {
    return kFailures.Note(kErrMemory);
  }
}

}  // namespace lumaro::app
