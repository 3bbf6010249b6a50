#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {

// A fresh temporary directory (TempDir) that a test fills with files and subdirectories by
// relative path; removed with everything in it at the end of the test.
class TempTree {
 public:
  const std::u16string& root() const { return dir_.Path(); }
  // The full path of `relative` inside the tree.
  std::u16string Path(std::u16string_view relative) const {
    return relative.empty() ? root() : root() + u"/" + std::u16string(relative);
  }
  // Makes a directory (its parent must exist); answers its full path.
  std::u16string Dir(std::u16string_view relative) const {
    const std::u16string path = Path(relative);
    ::mkdir(platform::Utf16ToUtf8(path).c_str(), 0755);
    return path;
  }
  // Writes a file with `bytes`; answers its full path.
  std::u16string File(std::u16string_view relative, std::string_view bytes = {}) const {
    const std::u16string path = Path(relative);
    std::ofstream(platform::Utf16ToUtf8(path), std::ios::binary) << bytes;
    return path;
  }
  // The bytes of a file ("" when it cannot be read).
  static std::string Read(std::u16string_view path) {
    std::ifstream in(platform::Utf16ToUtf8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  TempDir dir_;
};

}  // namespace lumaro::testing
