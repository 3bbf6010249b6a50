// Files and directories of os.h on Windows.
#include <new>
#include <string>

#include "platform/os.h"
#include "platform/os_system.h"
#include "platform/win32/win32_api.h"

namespace lumaro::platform {
namespace {

// One call moves at most this much, whatever the request.
constexpr std::uint64_t kMaxTransfer = 1ULL << 30;
// Room for a system error text.
constexpr std::size_t kErrorTextSize = 256;
constexpr DWORD kLongestPath = 32768;

HANDLE Of(std::intptr_t descriptor) { return reinterpret_cast<HANDLE>(descriptor); }

}  // namespace

std::unique_ptr<File> File::Open(std::u16string_view path, OpenMode mode) noexcept {
  std::wstring native;
  if (path.empty() || !NativePath(path, &native)) return nullptr;
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::kReadShared:
      break;
    case OpenMode::kReadExclusive:
      share = 0;
      break;
    case OpenMode::kCreateNew:
      access = GENERIC_WRITE;
      disposition = CREATE_NEW;
      break;
    case OpenMode::kCreateAlways:
      access = GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
  }
  // A directory does not open without backup semantics, which is what File wants.
  const HANDLE h = ::CreateFileW(native.c_str(), access, share, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  File* file = new (std::nothrow) File(reinterpret_cast<std::intptr_t>(h));
  if (file == nullptr) ::CloseHandle(h);
  return std::unique_ptr<File>(file);
}

File::~File() { ::CloseHandle(Of(descriptor_)); }

std::int64_t File::Read(void* buffer, std::uint64_t bytes) noexcept {
  DWORD got = 0;
  const auto asked = static_cast<DWORD>(bytes < kMaxTransfer ? bytes : kMaxTransfer);
  if (!::ReadFile(Of(descriptor_), buffer, asked, &got, nullptr)) return -1;
  return got;
}

std::int64_t File::Write(const void* buffer, std::uint64_t bytes) noexcept {
  DWORD put = 0;
  const auto asked = static_cast<DWORD>(bytes < kMaxTransfer ? bytes : kMaxTransfer);
  if (!::WriteFile(Of(descriptor_), buffer, asked, &put, nullptr)) return -1;
  return put;
}

bool File::Seek(std::uint64_t offset) noexcept {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  return to.QuadPart >= 0 && ::SetFilePointerEx(Of(descriptor_), to, nullptr, FILE_BEGIN);
}

bool File::Size(std::uint64_t* bytes) const noexcept {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(Of(descriptor_), &size)) return false;
  *bytes = static_cast<std::uint64_t>(size.QuadPart);
  return true;
}

bool File::Position(std::uint64_t* offset) const noexcept {
  LARGE_INTEGER at{};
  if (!::SetFilePointerEx(Of(descriptor_), LARGE_INTEGER{}, &at, FILE_CURRENT)) return false;
  *offset = static_cast<std::uint64_t>(at.QuadPart);
  return true;
}

bool File::Flush() noexcept { return ::FlushFileBuffers(Of(descriptor_)) != FALSE; }

std::string LastSystemError() {
  const DWORD error = ::GetLastError();
  char text[kErrorTextSize] = {};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
  return length > 0 ? std::string(text, length) : "system error " + std::to_string(error);
}

bool IdentifyFile(std::u16string_view path, FileIdentity* identity) {
  std::wstring native;
  if (path.empty() || !NativePath(path, &native)) return false;
  // No access asked: the file's information only, whoever holds it open.
  const HANDLE file =
      ::CreateFileW(native.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(file, &info) != FALSE;
  ::CloseHandle(file);
  if (!known) return false;
  *identity = {info.dwVolumeSerialNumber,
               (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  return true;
}

bool GetFileAttributes(std::u16string_view path, FileAttributes* attributes) {
  std::wstring native;
  if (path.empty() || !NativePath(path, &native)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data)) return false;
  attributes->directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  attributes->special = (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0;
  attributes->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool IsPlainFileOrAbsent(std::u16string_view path) {
  std::wstring native;
  if (path.empty() || !NativePath(path, &native)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  constexpr DWORD kNotPlain =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  if ((data.dwFileAttributes & kNotPlain) != 0) return false;
  // A device name (NUL, CON …) may still look like a file here; only a disk file is plain.
  const HANDLE file =
      ::CreateFileW(native.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool disk = ::GetFileType(file) == FILE_TYPE_DISK;
  ::CloseHandle(file);
  return disk;
}

bool PathFileExists(std::u16string_view path) {
  FileAttributes ignored;
  return GetFileAttributes(path, &ignored);
}

bool DeleteFile(std::u16string_view path) {
  std::wstring native;
  if (path.empty() || !NativePath(path, &native)) return false;
  return ::DeleteFileW(native.c_str()) != 0;
}

bool ReplaceFile(std::u16string_view from, std::u16string_view to) {
  std::wstring nativeFrom;
  std::wstring nativeTo;
  if (from.empty() || to.empty() || !NativePath(from, &nativeFrom) || !NativePath(to, &nativeTo))
    return false;
  return ::MoveFileExW(nativeFrom.c_str(), nativeTo.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool ListDirectory(std::u16string_view path, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  std::wstring native;
  if (path.empty() || !NativePath(path, &native)) return false;
  if (native.back() != L'\\' && native.back() != L'/') native.push_back(L'\\');
  native.push_back(L'*');
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(native.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  bool ok = true;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    entries->push_back(DirectoryEntry{FromWide(name.data(), name.size()),
                                      (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (::FindNextFileW(search, &found));
  ok = ::GetLastError() == ERROR_NO_MORE_FILES;
  ::FindClose(search);
  if (!ok) entries->clear();
  return ok;
}

bool SetCurrentDirectory(std::u16string_view path) {
  std::wstring native;
  if (path.empty() || !NativePath(path, &native)) return false;
  return ::SetCurrentDirectoryW(native.c_str()) != 0;
}

std::u16string CurrentDirectory() {
  std::wstring buffer(kLongestPath, L'\0');
  const DWORD length = ::GetCurrentDirectoryW(kLongestPath, buffer.data());
  if (length == 0 || length >= kLongestPath) return {};
  return FromWide(buffer.data(), length);
}

LocalTime CurrentLocalTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                   now.wMinute, now.wSecond, now.wMilliseconds};
}

}  // namespace lumaro::platform
