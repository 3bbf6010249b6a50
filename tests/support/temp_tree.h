#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/path.h"
#include "platform/text.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {

// A fresh temporary directory (TempDir) that a test fills with files and subdirectories by
// relative path; removed with everything in it at the end of the test.
class TempTree {
 public:
  const std::u16string& root() const { return dir_.Path(); }
  // The full path of `relative` inside the tree ('/' between its names, written as the
  // platform's separator).
  std::u16string Path(std::u16string_view relative) const {
    if (relative.empty()) return root();
    std::u16string path = root() + platform::kPathSeparator + std::u16string(relative);
    for (char16_t& c : path) {
      if (c == u'/') c = platform::kPathSeparator;
    }
    return path;
  }
  // Makes a directory (its parent must exist); answers its full path.
  std::u16string Dir(std::u16string_view relative) const {
    const std::u16string path = Path(relative);
    std::error_code ignored;
    std::filesystem::create_directory(std::filesystem::path(path), ignored);
    return path;
  }
  // Writes a file with `bytes`; answers its full path.
  std::u16string File(std::u16string_view relative, std::string_view bytes = {}) const {
    const std::u16string path = Path(relative);
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
    return path;
  }
  // The bytes of a file ("" when it cannot be read).
  static std::string Read(std::u16string_view path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  TempDir dir_;
};

}  // namespace lumaro::testing
