// Child processes and standard output of os.h on POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <new>
#include <string>

#include "platform/os.h"
#include "platform/text.h"

extern char** environ;

namespace lumaro::platform {
namespace {

constexpr int kReadEnd = 0;
constexpr int kWriteEnd = 1;
constexpr char kDiscard[] = "/dev/null";
// The child's output pipe is widened to this where the system allows, so a fast decoder hands
// over its stream in fewer, larger pieces.
constexpr int kOutputPipeBytes = 1 << 20;

// One descriptor, closed when it goes (or earlier, once).
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
    return *this;
  }
  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// A pipe whose two ends are close-on-exec; the child's end is duplicated onto its standard
// descriptor, which clears the flag there only.
struct Pipe {
  Descriptor read;
  Descriptor write;
  bool Open() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    read = Descriptor(ends[kReadEnd]);
    write = Descriptor(ends[kWriteEnd]);
    return true;
  }
};

// The spawn's file actions and attributes, destroyed on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
    attributesReady_ = posix_spawnattr_init(&attributes_) == 0;
  }
  ~SpawnSetup() {
    if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
    if (attributesReady_) posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Standard input and output from the pipes, standard error discarded, and every other
  // descriptor closed (one the player inherited, or a library opened, without close-on-exec); the
  // child in its own process group (a terminal's interrupt goes to the player, which ends its
  // children itself), with the default action for the signals the player may ignore or handle.
  bool Prepare(int input, int output) {
    if (!actionsReady_ || !attributesReady_) return false;
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigset_t none;
    sigemptyset(&none);
    return posix_spawn_file_actions_adddup2(&actions_, input, STDIN_FILENO) == 0 &&
           posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO) == 0 &&
           posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, kDiscard, O_WRONLY, 0) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1) == 0 &&
           posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
           posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
           posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
           posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                                      POSIX_SPAWN_SETSIGMASK) == 0;
  }
  const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  const posix_spawnattr_t* Attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool actionsReady_ = false;
  bool attributesReady_ = false;
};

class PosixChild final : public ChildProcess {
 public:
  PosixChild(pid_t pid, Descriptor&& input, Descriptor&& output) : pid_(pid) {
    input_ = std::move(input);
    output_ = std::move(output);
  }

  ~PosixChild() override {
    std::lock_guard lock(mutex_);
    input_.Close();
    output_.Close();
    if (reaped_) return;
    if (!ReapIfExited()) {
      EndGroup();
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      reaped_ = true;
    }
  }

  void CloseInput() noexcept override { input_.Close(); }

  std::int64_t ReadOutput(void* buffer, std::uint64_t bytes) noexcept override {
    for (;;) {
      const ssize_t got = ::read(output_.Get(), buffer, static_cast<std::size_t>(bytes));
      if (got >= 0) return got;
      if (errno != EINTR) return -1;
    }
  }

  bool Running() noexcept override {
    std::lock_guard lock(mutex_);
    return !reaped_ && !ReapIfExited();
  }

  void Terminate() noexcept override {
    std::lock_guard lock(mutex_);
    if (!reaped_ && !ReapIfExited()) EndGroup();
  }

 private:
  // Ends the child and whatever it started in its group (a wrapper's own child would otherwise
  // keep the output open). The group outlives its leader until the leader is reaped, so the id
  // cannot name another group here.
  void EndGroup() {
    if (::kill(-pid_, SIGKILL) != 0) ::kill(pid_, SIGKILL);
  }

  // Reaps the child when it has exited (caller holds the lock); true once it is gone.
  bool ReapIfExited() {
    int status = 0;
    pid_t answer;
    do {
      answer = ::waitpid(pid_, &status, WNOHANG);
    } while (answer < 0 && errno == EINTR);
    if (answer == pid_ || answer < 0) reaped_ = true;
    return reaped_;
  }

  std::mutex mutex_;
  pid_t pid_;
  bool reaped_ = false;
  Descriptor input_;   // the write end of the child's standard input
  Descriptor output_;  // the read end of the child's standard output
};

}  // namespace

std::u16string ProgramFileName(std::u16string_view base) { return std::u16string(base); }

std::unique_ptr<ChildProcess> ChildProcess::Start(
    std::u16string_view program, const std::vector<std::u16string>& arguments) noexcept {
  try {
    const std::string path = Utf16ToUtf8(program);
    std::vector<std::string> words;
    words.reserve(arguments.size() + 1);
    words.push_back(path);
    for (const std::u16string& argument : arguments) words.push_back(Utf16ToUtf8(argument));
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    Pipe input;
    Pipe output;
    if (!input.Open() || !output.Open()) return nullptr;
    (void)::fcntl(output.read.Get(), F_SETPIPE_SZ, kOutputPipeBytes);  // a hint; may be refused
    SpawnSetup setup;
    if (!setup.Prepare(input.read.Get(), output.write.Get())) return nullptr;
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), setup.Actions(), setup.Attributes(), argv.data(),
                    environ) != 0) {
      return nullptr;
    }
    // The child holds its own copies of these two ends now.
    input.read.Close();
    output.write.Close();
    auto* child =
        new (std::nothrow) PosixChild(pid, std::move(input.write), std::move(output.read));
    if (child == nullptr) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    return std::unique_ptr<ChildProcess>(child);
  } catch (...) {
    return nullptr;
  }
}

namespace {
std::atomic<int> standardOutput{STDOUT_FILENO};  // where WriteStandardOutput writes
}  // namespace

bool ReserveStandardOutput() noexcept {
  const int reserved = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (reserved < 0) return false;
  const int nowhere = ::open(kDiscard, O_WRONLY | O_CLOEXEC);
  if (nowhere < 0 || ::dup2(nowhere, STDOUT_FILENO) < 0) {
    if (nowhere >= 0) ::close(nowhere);
    ::close(reserved);
    return false;
  }
  ::close(nowhere);
  standardOutput = reserved;
  return true;
}

bool WriteStandardOutput(const void* bytes, std::uint64_t count) noexcept {
  // A reader that went away must end the write with a failure, not end the process.
  static const bool ignoringBrokenPipes = ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)ignoringBrokenPipes;
  const char* next = static_cast<const char*>(bytes);
  while (count > 0) {
    const ssize_t wrote = ::write(standardOutput, next, static_cast<std::size_t>(count));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    next += wrote;
    count -= static_cast<std::uint64_t>(wrote);
  }
  return true;
}

}  // namespace lumaro::platform
