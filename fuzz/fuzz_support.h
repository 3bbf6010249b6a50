#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the fuzz targets share: the input as a file the readers open by path, a scratch
// directory for the writers, and the input split into words. One thread (libFuzzer's).
namespace lumaro::fuzz {

// A file held in memory (memfd_create) whose bytes each input replaces; the readers open it by
// its "/proc/self/fd/N" path like any other file, with their own offset. Aborts when it cannot
// be made or written: a fuzz run without its input file would test nothing.
class MemoryFile {
 public:
  MemoryFile();
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::u16string& Path() const { return path_; }
  // The file's bytes become `size` bytes from `data`.
  void Replace(const std::uint8_t* data, std::size_t size);

 private:
  int descriptor_;
  std::u16string path_;
};

// A fresh directory under /dev/shm (memory too), removed with everything in it when the object
// goes. Aborts when it cannot be made.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::u16string& Path() const { return path_; }
  // The full path of `name` inside the directory.
  std::u16string File(std::u16string_view name) const;
  // Writes (replaces) `name` inside the directory with `size` bytes from `data`; aborts on
  // failure. Answers its full path.
  std::u16string Write(std::u16string_view name, const void* data, std::size_t size) const;

 private:
  std::u16string path_;
};

// The input split at NUL bytes into words (a trailing NUL ends the last word; empty words are
// kept, as a command line may hold them).
std::vector<std::string> SplitAtNul(const std::uint8_t* data, std::size_t size);

// Stops the run with a message when a property of the code under test does not hold: libFuzzer
// takes the abort as a finding and keeps the input.
[[noreturn]] void Fail(std::string_view what);

}  // namespace lumaro::fuzz
