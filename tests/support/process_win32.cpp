// RunProcess on Windows: the program started with CreateProcessW, its standard output on a pipe
// that this thread reads, standard input and error on NUL. A blocking ReadFile has no time limit
// of its own, so a watcher thread ends the program when the time runs out.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/text.h"
#include "platform/win32/win32_api.h"
#include "tests/support/process.h"
// After windows.h:
#include <tlhelp32.h>

namespace lumaro::testing {
namespace {

constexpr UINT kKilledExitCode = 1;

struct Handles {
  HANDLE process = nullptr, thread = nullptr, read = nullptr, write = nullptr, nul = nullptr;
  ~Handles() {
    for (HANDLE h : {process, thread, read, write, nul}) {
      if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
  }
};

}  // namespace

ProcessRun RunProcess(const std::vector<std::string>& argv, int seconds,
                      const std::function<void(pid_t, const std::string&)>& onLine) {
  ProcessRun run;
  if (argv.empty()) return run;
  Handles h;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  if (!::CreatePipe(&h.read, &h.write, &inherit, 0)) return run;
  ::SetHandleInformation(h.read, HANDLE_FLAG_INHERIT, 0);
  h.nul = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &inherit, OPEN_EXISTING, 0, nullptr);
  if (h.nul == INVALID_HANDLE_VALUE) return run;

  std::wstring line;
  for (const std::string& arg : argv) {
    if (!line.empty()) line.push_back(L' ');
    platform::AppendQuotedArgument(line, platform::Utf8ToUtf16(arg));
  }
  std::wstring program;
  if (!platform::NativePath(platform::Utf8ToUtf16(argv[0]), &program)) return run;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = h.nul;
  startup.hStdOutput = h.write;
  startup.hStdError = h.nul;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
    return run;
  }
  h.process = started.hProcess;
  h.thread = started.hThread;
  ::CloseHandle(h.write);  // the child's copy is the only writer now
  h.write = nullptr;

  // The watcher: when the time runs out before the output ends, the program is ended (its end
  // of the pipe closes with it) and a read still blocked is cancelled.
  HANDLE reader = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &reader, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
  std::mutex mutex;
  std::condition_variable doneSignal;
  bool done = false;
  bool timedOut = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::thread watcher([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (doneSignal.wait_until(lock, deadline, [&] { return done; })) return;
    timedOut = true;
    ::TerminateProcess(h.process, kKilledExitCode);
    if (reader != nullptr) ::CancelSynchronousIo(reader);
  });

  // Lines end with LF or, as Windows programs write text, CR LF: `lines` holds them without
  // either; `output` keeps every byte.
  std::string text;
  for (;;) {
    char buffer[4096];
    DWORD got = 0;
    if (!::ReadFile(h.read, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
    run.output.append(buffer, got);
    for (DWORD i = 0; i < got; ++i) {
      if (buffer[i] != '\n') {
        text += buffer[i];
        continue;
      }
      if (!text.empty() && text.back() == '\r') text.pop_back();
      run.lines.push_back(text);
      if (onLine) onLine(static_cast<pid_t>(started.dwProcessId), text);
      text.clear();
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  doneSignal.notify_all();
  watcher.join();
  if (reader != nullptr) ::CloseHandle(reader);

  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (::WaitForSingleObject(h.process, left.count() > 0 ? static_cast<DWORD>(left.count()) : 0) !=
      WAIT_OBJECT_0) {
    timedOut = true;
    ::TerminateProcess(h.process, kKilledExitCode);
    ::WaitForSingleObject(h.process, INFINITE);
  }
  DWORD exitCode = 0;
  if (!timedOut && ::GetExitCodeProcess(h.process, &exitCode))
    run.status = static_cast<int>(exitCode);
  return run;
}

int OpenHandleCount() {
  DWORD count = 0;
  return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

bool NoChildLeft() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const DWORD self = ::GetCurrentProcessId();
  bool none = true;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more && none;
       more = ::Process32NextW(snapshot, &entry)) {
    none = entry.th32ParentProcessID != self;
  }
  ::CloseHandle(snapshot);
  return none;
}

}  // namespace lumaro::testing
