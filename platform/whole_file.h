#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/os.h"
#include "platform/result.h"

namespace lumaro::platform {

// The steps of WriteWholeFile that can fail on their own, for the caller's failure codes.
enum class WholeFileStep { kCreate, kFlush, kRename };

// The name a file is written under until it is whole: the target's name with its last character
// turned into '~' ("song.wav" is written as "song.wa~"), or with a '~' added when it ends in one
// already. It fits wherever the target fits (one longer at most), and no other target shares it.
inline std::u16string PartialPath(std::u16string_view target) {
  std::u16string partial(target);
  if (partial.empty() || partial.back() == u'~') {
    partial += u'~';
  } else {
    partial.back() = u'~';
  }
  return partial;
}

// Writes `target` so that it is whole or absent whenever the process or the machine stops: the
// partial file (truncating one a killed run left) gets `body(File&)`, is flushed to the storage
// device and then takes the target's name, replacing a file of that name. When anything fails
// the partial file is deleted and the target is left as it was. A target that exists and is not
// a plain file (a device such as /dev/null or NUL, a pipe, a link) is written in place: it can
// be neither renamed onto nor deleted. Answers `body`'s result, or `failed(step, path)` (which
// notes the failure, with the system's reason, and answers its code). The caller's thread.
template <class Body, class Failed>
Result WriteWholeFile(std::u16string_view target, Body&& body, Failed&& failed) {
  if (!IsPlainFileOrAbsent(target)) {
    const std::unique_ptr<File> inPlace = File::Open(target, OpenMode::kCreateAlways);
    if (!inPlace) return failed(WholeFileStep::kCreate, target);
    return body(*inPlace);
  }
  const std::u16string partial = PartialPath(target);
  std::unique_ptr<File> file = File::Open(partial, OpenMode::kCreateAlways);
  if (!file) return failed(WholeFileStep::kCreate, partial);
  Result result = body(*file);
  if (result == kOk && !file->Flush()) result = failed(WholeFileStep::kFlush, partial);
  file.reset();
  if (result == kOk && !ReplaceFile(partial, target)) {
    result = failed(WholeFileStep::kRename, target);
  }
  if (result != kOk) DeleteFile(partial);
  return result;
}

}  // namespace lumaro::platform
