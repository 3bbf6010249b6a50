#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/text.h"

namespace lumaro::fuzz {

MemoryFile::MemoryFile() : descriptor_(memfd_create("lumaro-fuzz-input", MFD_CLOEXEC)) {
  if (descriptor_ < 0) Fail("memfd_create failed");
  path_ = platform::Utf8ToUtf16("/proc/self/fd/" + std::to_string(descriptor_));
}

MemoryFile::~MemoryFile() { ::close(descriptor_); }

void MemoryFile::Replace(const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(descriptor_, 0) != 0) Fail("memfd truncate failed");
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = ::pwrite(descriptor_, data + done, size - done, static_cast<off_t>(done));
    if (put <= 0) Fail("memfd write failed");
    done += static_cast<std::size_t>(put);
  }
}

ScratchDir::ScratchDir() {
  std::string pattern = "/dev/shm/lumaro-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp under /dev/shm failed");
  path_ = platform::Utf8ToUtf16(pattern);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(platform::Utf16ToUtf8(path_), ignored);
}

std::u16string ScratchDir::File(std::u16string_view name) const {
  return path_ + u"/" + std::u16string(name);
}

std::u16string ScratchDir::Write(std::u16string_view name, const void* data,
                                 std::size_t size) const {
  const std::u16string path = File(name);
  std::ofstream out(platform::Utf16ToUtf8(path), std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) Fail("scratch file write failed");
  return path;
}

std::vector<std::string> SplitAtNul(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(std::move(word));
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

void Fail(std::string_view what) {
  std::fprintf(stderr, "fuzz check failed: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

}  // namespace lumaro::fuzz
