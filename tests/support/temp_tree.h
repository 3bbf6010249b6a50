#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace lumaro::testing {

// A fresh directory under /tmp that a test fills with files and subdirectories; removed with
// everything in it at the end of the test.
class TempTree {
 public:
  TempTree() {
    char pattern[] = "/tmp/lumaro-tree-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    root_ = platform::Utf8ToUtf16(made != nullptr ? made : "");
  }
  ~TempTree() { std::system(("rm -rf '" + platform::Utf16ToUtf8(root_) + "'").c_str()); }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::u16string& root() const { return root_; }
  // The full path of `relative` inside the tree.
  std::u16string Path(std::u16string_view relative) const {
    return relative.empty() ? root_ : root_ + u"/" + std::u16string(relative);
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
  std::u16string root_;
};

}  // namespace lumaro::testing
