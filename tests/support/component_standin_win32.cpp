// The stand-in's system part on Windows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include "tests/support/component_standin.h"

namespace lumaro::testing::standin {
namespace {

// `argument` quoted for a command line as the C runtime splits it (the rules of the player's own
// child start, which the stand-in must not depend on).
void AppendQuoted(std::wstring& line, const std::u16string& argument) {
  line.push_back(L'"');
  std::size_t backslashes = 0;
  for (const char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line.push_back(static_cast<wchar_t>(c));
  }
  line.append(backslashes * 2, L'\\');
  line.push_back(L'"');
}

}  // namespace

std::vector<std::u16string> Arguments(int, char**) {
  std::vector<std::u16string> arguments;
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(words[i]));
  }
  ::LocalFree(words);
  return arguments;
}

bool RunCopy(const std::vector<std::u16string>& arguments) {
  std::wstring self(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, self.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  self.resize(length);
  std::wstring line;
  AppendQuoted(line, std::u16string(self.begin(), self.end()));
  for (const std::u16string& argument : arguments) {
    line.push_back(L' ');
    AppendQuoted(line, argument);
  }
  // The handles this program was given are inheritable, so the copy writes where it writes.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(self.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
    return false;
  }
  ::CloseHandle(started.hThread);
  ::WaitForSingleObject(started.hProcess, INFINITE);
  ::CloseHandle(started.hProcess);
  return true;
}

}  // namespace lumaro::testing::standin
