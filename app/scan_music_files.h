#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/app_context.h"
#include "context/string_list.h"
#include "platform/os.h"
#include "platform/result.h"
#include "platform/ui.h"

namespace lumaro::app {

// One drop on the scan tool: what to scan and where the play lists go.
struct ScanJob {
  context::AppContext* App = nullptr;
  platform::ui::Dialog* Dialog = nullptr;      // the tool's window; nullptr when nobody watches
  std::unique_ptr<context::StringList> Paths;  // dropped files and directories, in drop order
  std::u16string ExtensionText;                // the extension words as the user typed them
  std::unique_ptr<context::StringList> Words;  // split from ExtensionText by the scan
  std::u16string OutputDir;                    // empty: the program's own directory
};

// The scan's answer when PlayCommand asked it to stop (any other nonzero answer is an error).
inline constexpr Result kScanStopped = FirstCode(FailureSite::kScanStopped);

// True for the characters that make up extension words: letters and digits. Everything else
// (spaces, line breaks, commas, dots, semicolons and other punctuation) separates words.
bool IsExtensionWordChar(char16_t c);

// Appends every non-empty run of word characters of `text` to `words`, in order.
// Failure answer: nonzero (out of memory).
[[nodiscard]] Result SplitExtensionWords(std::u16string_view text, context::StringList& words);

// The time-named play list "YYYYMMDD_hhmmss_mmm.m3u8" in `outputDir`; nullopt when the path
// would not fit.
std::optional<std::u16string> TimePlaylistPath(std::u16string_view outputDir,
                                               const platform::LocalTime& time);

// The play list of one scanned directory: "<prefix> <last component>.m3u8" in `outputDir`
// (just "<last component>.m3u8" with an empty prefix), or the time-named one for a root.
// nullopt when the path would not fit.
std::optional<std::u16string> DirectoryPlaylistPath(std::u16string_view outputDir,
                                                    std::u16string_view prefix,
                                                    std::u16string_view directory,
                                                    const platform::LocalTime& time);

// The name prefix for the subdirectories of `directory`: with `addPath`, the prefix followed by
// this directory's last component (a root adds nothing); without it, empty. nullopt when the
// prefix would not fit.
std::optional<std::u16string> SubdirectoryPrefix(std::u16string_view prefix,
                                                 std::u16string_view directory, bool addPath);

// Walks the job's paths and writes one play list per directory that holds music files, and a
// time-named one for the loose music files of the drop, depth first. Dropped files must match
// a word exactly; files inside directories match ignoring case; no words take every file.
// Already written play lists stay when the scan fails; the one being written is deleted.
//
// Thread contract: any thread; polls job.App->PlayCommand between entries.
// Answers kOk, kScanStopped, or another nonzero code for an error.
[[nodiscard]] Result RunScan(ScanJob& job) noexcept;

// The scan thread's procedure: PlayCommand = 0, the dialog's scanning look and "Processing ...",
// the scan, then "Completed", "Terminated" or "Aborted by error" and the idle look. Without a
// dialog only the scan runs. Frees the job; answers the scan's result.
Result RunScanJob(std::unique_ptr<ScanJob> job) noexcept;

// Scans `paths` on the calling thread as a drop on the tool would, writing into `outputDir`
// (empty: the program's directory) and showing progress in `dialog` when there is one.
Result ScanMusicFiles(context::AppContext& app, const std::vector<std::u16string>& paths,
                      std::u16string_view extensionText, std::u16string_view outputDir = {},
                      platform::ui::Dialog* dialog = nullptr) noexcept;

}  // namespace lumaro::app
