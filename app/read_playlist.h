#pragma once

#include <memory>
#include <string_view>

#include "context/string_list.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::app {

// Reads an ".m3u8" play list: one UTF-8 path per line (lines end at LF, CR or NUL; empty lines
// and lines starting with '#' are skipped). Each path is taken as written when it names an
// existing file or directory (a relative one against the current directory), else relative to
// the play list's own directory, and stored canonical. One entry that names nothing fails the
// whole list.
//
// `stop` is polled before the first line and after each: set before the read, the read fails;
// set during it, the read ends successfully with the paths gathered so far.
//
// Thread contract: runs on the caller's thread; `stop` may be written by any thread.
// Failure answer: nonzero, `*list` empty. The file is closed on every path.
[[nodiscard]] Result ReadPlaylistInto(std::u16string_view path, const platform::StopWord& stop,
                                      std::unique_ptr<context::StringList>* list) noexcept;

// The same read answering the list, or nullptr on failure.
std::unique_ptr<context::StringList> ReadPlaylist(std::u16string_view path,
                                                  const platform::StopWord& stop) noexcept;

}  // namespace lumaro::app
