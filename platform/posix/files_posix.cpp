// Files and directories of os.h on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/os.h"
#include "platform/os_system.h"
#include "platform/posix/native_path.h"
#include "platform/text.h"

namespace lumaro::platform {
namespace {

constexpr mode_t kNewFileMode = 0644;
// One system call moves at most this much, whatever the request.
constexpr std::uint64_t kMaxTransfer = 1ULL << 30;
// Room for a system error text.
constexpr std::size_t kErrorTextSize = 256;

}  // namespace

std::unique_ptr<File> File::Open(std::u16string_view path, OpenMode mode) noexcept {
  std::string native;
  if (path.empty() || !NativePath(path, &native)) return nullptr;
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kReadShared:
    case OpenMode::kReadExclusive:
      flags |= O_RDONLY;
      break;
    case OpenMode::kCreateNew:
      flags |= O_WRONLY | O_CREAT | O_EXCL;
      break;
    case OpenMode::kCreateAlways:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
  }
  const int fd = ::open(native.c_str(), flags, kNewFileMode);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) ||
      (mode == OpenMode::kReadExclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<File>(new (std::nothrow) File(fd));
}

File::~File() { ::close(descriptor_); }

std::int64_t File::Read(void* buffer, std::uint64_t bytes) noexcept {
  const std::size_t asked = static_cast<std::size_t>(bytes < kMaxTransfer ? bytes : kMaxTransfer);
  for (;;) {
    const ssize_t got = ::read(descriptor_, buffer, asked);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

std::int64_t File::Write(const void* buffer, std::uint64_t bytes) noexcept {
  const std::size_t asked = static_cast<std::size_t>(bytes < kMaxTransfer ? bytes : kMaxTransfer);
  for (;;) {
    const ssize_t put = ::write(descriptor_, buffer, asked);
    if (put >= 0) return put;
    if (errno != EINTR) return -1;
  }
}

bool File::Seek(std::uint64_t offset) noexcept {
  if (offset > static_cast<std::uint64_t>(LLONG_MAX)) return false;
  return ::lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool File::Size(std::uint64_t* bytes) const noexcept {
  struct stat info {};
  if (::fstat(descriptor_, &info) != 0) return false;
  *bytes = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool File::Position(std::uint64_t* offset) const noexcept {
  const off_t at = ::lseek(descriptor_, 0, SEEK_CUR);
  if (at < 0) return false;
  *offset = static_cast<std::uint64_t>(at);
  return true;
}

bool File::Flush() noexcept { return ::fsync(descriptor_) == 0; }

std::string LastSystemError() {
  const int error = errno;
  char text[kErrorTextSize];
  return ::strerror_r(error, text, sizeof text);
}

bool IdentifyFile(std::u16string_view path, FileIdentity* identity) {
  std::string native;
  if (path.empty() || !NativePath(path, &native)) return false;
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0) return false;
  *identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  return true;
}

bool GetFileAttributes(std::u16string_view path, FileAttributes* attributes) {
  std::string native;
  if (path.empty() || !NativePath(path, &native)) return false;
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0) return false;
  attributes->directory = S_ISDIR(info.st_mode);
  attributes->special = !S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode);
  attributes->size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool IsPlainFileOrAbsent(std::u16string_view path) {
  std::string native;
  if (path.empty() || !NativePath(path, &native)) return false;
  struct stat info {};
  if (::lstat(native.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

bool PathFileExists(std::u16string_view path) {
  FileAttributes ignored;
  return GetFileAttributes(path, &ignored);
}

bool DeleteFile(std::u16string_view path) {
  std::string native;
  if (path.empty() || !NativePath(path, &native)) return false;
  return ::unlink(native.c_str()) == 0;
}

bool ReplaceFile(std::u16string_view from, std::u16string_view to) {
  std::string nativeFrom;
  std::string nativeTo;
  if (from.empty() || to.empty() || !NativePath(from, &nativeFrom) || !NativePath(to, &nativeTo))
    return false;
  return ::rename(nativeFrom.c_str(), nativeTo.c_str()) == 0;
}

bool ListDirectory(std::u16string_view path, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  std::string native;
  if (path.empty() || !NativePath(path, &native)) return false;
  DIR* dir = ::opendir(native.c_str());
  if (dir == nullptr) return false;
  bool ok = true;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      ok = errno == 0;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat info {};
      const std::string full = native + "/" + std::string(name);
      directory = ::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    entries->push_back(DirectoryEntry{Utf8ToUtf16(name), directory});
  }
  ::closedir(dir);
  if (!ok) entries->clear();
  return ok;
}

bool SetCurrentDirectory(std::u16string_view path) {
  std::string native;
  if (path.empty() || !NativePath(path, &native)) return false;
  return ::chdir(native.c_str()) == 0;
}

std::u16string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return {};
  return Utf8ToUtf16(buffer);
}

LocalTime CurrentLocalTime() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  std::tm parts{};
  const std::time_t seconds = now.tv_sec;
  ::localtime_r(&seconds, &parts);
  return LocalTime{parts.tm_year + 1900,
                   parts.tm_mon + 1,
                   parts.tm_mday,
                   parts.tm_hour,
                   parts.tm_min,
                   parts.tm_sec,
                   static_cast<int>(now.tv_usec / 1000)};
}

}  // namespace lumaro::platform
