// The stand-in's system part on Windows.
#include "platform/win32/win32_api.h"
// After windows.h:
#include <shellapi.h>

#include "platform/sim/component_standin.h"

namespace lumaro::platform::sim::standin {

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

bool RunCopy(const std::u16string& script) {
  std::wstring self(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, self.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  self.resize(length);
  // Quotes alone are enough: a Windows path holds no quote and a file's path ends in no
  // backslash.
  std::wstring line =
      L"\"" + self + L"\" -i \"" + std::wstring(script.begin(), script.end()) + L"\"";
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

}  // namespace lumaro::platform::sim::standin
