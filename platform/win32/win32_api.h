#pragma once

// The Windows headers for the OS layer. They define macros named like some of the portable
// layer's own functions (DeleteFile, GetFileAttributes, SetCurrentDirectory); the layer calls
// the wide functions by their full names, so those macros are taken back here.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#undef DeleteFile
#undef ReplaceFile
#undef GetFileAttributes
#undef SetCurrentDirectory

#include <string>
#include <string_view>
#include <vector>

namespace lumaro::platform {

// The wide form of a path as the Windows calls take it (UTF-16 as it is); false for a path
// holding a NUL.
inline bool NativePath(std::u16string_view path, std::wstring* native) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");
  if (path.find(u'\0') != std::u16string_view::npos) return false;
  native->assign(path.begin(), path.end());
  return true;
}

inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// `argument` quoted for a command line as the C runtime of the child splits it: in double
// quotes when it is empty or holds a space, a tab or a quote; a quote and the backslashes before
// it (or before the closing quote) doubled.
inline void AppendQuotedArgument(std::wstring& line, std::u16string_view argument) {
  if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string_view::npos) {
    line.append(argument.begin(), argument.end());
    return;
  }
  line.push_back(L'"');
  std::size_t backslashes = 0;
  for (const char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') backslashes = backslashes * 2 + 1;
    line.append(backslashes, L'\\');
    backslashes = 0;
    line.push_back(static_cast<wchar_t>(c));
  }
  line.append(backslashes * 2, L'\\');
  line.push_back(L'"');
}

// The program's arguments, its own name first, split from the wide command line as the C runtime
// splits them (names outside the code page arrive intact). Empty when the line cannot be split.
inline std::vector<std::u16string> ProgramArguments() {
  std::vector<std::u16string> arguments;
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return arguments;
  for (int i = 0; i < count; ++i)
    arguments.emplace_back(reinterpret_cast<const char16_t*>(words[i]));
  ::LocalFree(words);
  return arguments;
}

// Closes a handle when it goes; null and INVALID_HANDLE_VALUE hold nothing.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(Handle&& other) noexcept : h_(other.Release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Close();
      h_ = other.Release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void Close() {
    if (Valid()) ::CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace lumaro::platform
