// The stand-in's system part on Windows.
#include "platform/os.h"
#include "platform/sim/component_standin.h"
#include "platform/win32/win32_api.h"

namespace lumaro::platform::sim::standin {

std::vector<std::u16string> Arguments(int, char**) {
  std::vector<std::u16string> arguments = ProgramArguments();
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

bool RunCopy(const std::u16string& script) {
  const std::u16string self = ExecutablePath();
  if (self.empty()) return false;
  std::wstring line;
  AppendQuotedArgument(line, self);
  line += L" -i ";
  AppendQuotedArgument(line, script);
  // The handles this program was given are inheritable, so the copy writes where it writes.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  const std::wstring program(self.begin(), self.end());
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
    return false;
  }
  ::CloseHandle(started.hThread);
  ::WaitForSingleObject(started.hProcess, INFINITE);
  ::CloseHandle(started.hProcess);
  return true;
}

}  // namespace lumaro::platform::sim::standin
