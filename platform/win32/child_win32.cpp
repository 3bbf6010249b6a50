// Child processes and the standard output of os.h on Windows.
#include <fcntl.h>
#include <io.h>

#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#include "platform/os.h"
#include "platform/win32/win32_api.h"

namespace lumaro::platform {
namespace {

// The pipe to the child's output holds this much before the child waits for the reader.
constexpr DWORD kOutputPipeBytes = 1 << 20;
constexpr DWORD kTerminatedExitCode = 1;
constexpr DWORD kReapWaitMs = 5000;

// Handles made inheritable for one child are inherited by any child started at the same time;
// starts are taken one at a time so each child gets only its own.
std::mutex& StartLock() {
  static std::mutex lock;
  return lock;
}

class Win32Child final : public ChildProcess {
 public:
  Win32Child(Handle process, Handle job, Handle input, Handle output)
      : process_(std::move(process)),
        job_(std::move(job)),
        input_(std::move(input)),
        output_(std::move(output)) {}
  ~Win32Child() override {
    Terminate();
    (void)::WaitForSingleObject(process_.Get(), kReapWaitMs);
  }

  void CloseInput() noexcept override { input_.Close(); }
  std::int64_t ReadOutput(void* buffer, std::uint64_t bytes) noexcept override {
    if (!output_.Valid()) return -1;
    DWORD got = 0;
    const auto asked = static_cast<DWORD>(bytes < kOutputPipeBytes ? bytes : kOutputPipeBytes);
    if (::ReadFile(output_.Get(), buffer, asked, &got, nullptr)) return got;
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  bool Running() noexcept override {
    return ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
  }
  // The whole job goes: the child and whatever it started.
  void Terminate() noexcept override {
    if (!Running()) return;
    if (!job_.Valid() || !::TerminateJobObject(job_.Get(), kTerminatedExitCode))
      ::TerminateProcess(process_.Get(), kTerminatedExitCode);
  }

 private:
  Handle process_;
  Handle job_;
  Handle input_;   // the write end of the child's standard input
  Handle output_;  // the read end of the child's standard output
};

// A pipe whose `childEnd` end is inheritable and whose other end is not.
bool MakePipe(Handle* read, Handle* write, bool childReads, DWORD size) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE r = nullptr;
  HANDLE w = nullptr;
  if (!::CreatePipe(&r, &w, &inherit, size)) return false;
  *read = Handle(r);
  *write = Handle(w);
  return ::SetHandleInformation(childReads ? w : r, HANDLE_FLAG_INHERIT, 0) != 0;
}

// The list of handles a child may inherit, for CreateProcessW's extended start-up record: the
// child gets these and no other inheritable handle of the player. Deleted when destroyed.
class InheritedHandles {
 public:
  static constexpr std::size_t kCount = 3;

  explicit InheritedHandles(const std::array<HANDLE, kCount>& handles) : handles_(handles) {
    SIZE_T bytes = 0;
    (void)::InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
    storage_.resize(bytes);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (bytes == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &bytes)) return;
    list_ = list;
    if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     sizeof(HANDLE) * kCount, nullptr, nullptr)) {
      ::DeleteProcThreadAttributeList(list_);
      list_ = nullptr;
    }
  }
  ~InheritedHandles() {
    if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  // The attribute list; nullptr when the system refused to make it.
  LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

 private:
  std::array<HANDLE, kCount> handles_;  // the list points here
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

std::u16string ProgramFileName(std::u16string_view base) {
  std::u16string name(base);
  name += u".exe";
  return name;
}

std::unique_ptr<ChildProcess> ChildProcess::Start(
    std::u16string_view program, const std::vector<std::u16string>& arguments) noexcept {
  try {
    std::wstring path;
    if (!NativePath(program, &path)) return nullptr;
    std::wstring line;
    AppendQuotedArgument(line, program);
    for (const std::u16string& argument : arguments) {
      line.push_back(L' ');
      AppendQuotedArgument(line, argument);
    }
    std::lock_guard<std::mutex> lock(StartLock());
    Handle inputRead, inputWrite, outputRead, outputWrite;
    if (!MakePipe(&inputRead, &inputWrite, true, 0) ||
        !MakePipe(&outputRead, &outputWrite, false, kOutputPipeBytes)) {
      return nullptr;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle nowhere(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherit, OPEN_EXISTING, 0, nullptr));
    if (!nowhere.Valid()) return nullptr;
    Handle job(::CreateJobObjectW(nullptr, nullptr));
    if (job.Valid()) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      (void)::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                      sizeof limits);
    }
    const InheritedHandles inherited({inputRead.Get(), outputWrite.Get(), nowhere.Get()});
    if (inherited.List() == nullptr) return nullptr;
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = inputRead.Get();
    startup.StartupInfo.hStdOutput = outputWrite.Get();
    startup.StartupInfo.hStdError = nowhere.Get();
    startup.lpAttributeList = inherited.List();
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
                          nullptr, nullptr, &startup.StartupInfo, &started)) {
      return nullptr;
    }
    Handle process(started.hProcess);
    Handle thread(started.hThread);
    if (job.Valid() && !::AssignProcessToJobObject(job.Get(), process.Get())) job.Close();
    ::ResumeThread(thread.Get());
    auto* child = new (std::nothrow) Win32Child(std::move(process), std::move(job),
                                                std::move(inputWrite), std::move(outputRead));
    return std::unique_ptr<ChildProcess>(child);
  } catch (...) {
    return nullptr;
  }
}

namespace {
std::atomic<HANDLE> standardOutput{nullptr};  // where WriteStandardOutput writes; null: stdout
}  // namespace

bool ReserveStandardOutput() noexcept {
  HANDLE reserved = nullptr;
  const HANDLE self = ::GetCurrentProcess();
  if (!::DuplicateHandle(self, ::GetStdHandle(STD_OUTPUT_HANDLE), self, &reserved, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  const HANDLE nowhere = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
  if (nowhere == INVALID_HANDLE_VALUE || !::SetStdHandle(STD_OUTPUT_HANDLE, nowhere)) {
    if (nowhere != INVALID_HANDLE_VALUE) ::CloseHandle(nowhere);
    ::CloseHandle(reserved);
    return false;
  }
  // The C runtime's own standard output goes nowhere too.
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(nowhere), _O_WRONLY);
  if (fd >= 0) (void)::_dup2(fd, 1);
  standardOutput = reserved;
  return true;
}

bool WriteStandardOutput(const void* bytes, std::uint64_t count) noexcept {
  HANDLE out = standardOutput.load();
  if (out == nullptr) out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const char* next = static_cast<const char*>(bytes);
  while (count > 0) {
    DWORD wrote = 0;
    const auto asked = static_cast<DWORD>(count < kOutputPipeBytes ? count : kOutputPipeBytes);
    if (!::WriteFile(out, next, asked, &wrote, nullptr) || wrote == 0) return false;
    next += wrote;
    count -= wrote;
  }
  return true;
}

}  // namespace lumaro::platform
