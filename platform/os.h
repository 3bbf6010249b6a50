#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro::platform {

// ---- Memory and processors ---------------------------------------------------------------

// Answers the physical memory available to new allocations, in bytes; false when the system
// cannot tell. Any thread.
using MemoryStatusSource = bool (*)(std::uint64_t* availableBytes);

// Reads the memory status through the installed source (the operating system's by default).
[[nodiscard]] bool AvailablePhysicalMemory(std::uint64_t* availableBytes);

// Replaces the memory status source process-wide and answers the previous one; nullptr restores
// the operating system's. For tests and tools that need a fixed answer.
MemoryStatusSource SetMemoryStatusSource(MemoryStatusSource source);

// Number of processors the system reports (at least 1).
unsigned ProcessorCount();

// Asks the system to back [block, block + bytes) with large pages where it can, so that a
// multi-megabyte sample buffer is faulted in a few hundred times instead of a few hundred thousand.
// Only a hint: nothing changes where the system has no large pages. Any thread.
void AdviseLargePages(void* block, std::uint64_t bytes) noexcept;

// Makes the pages of [block, block + bytes) resident and writable before their first write where
// the system can (Linux 5.14 on), so that the write finds them in place; their bytes do not
// change. Only a hint: nothing happens where the system cannot, or where the range is not mapped.
// Any thread, beside threads writing the same range.
void PopulateForWriting(void* block, std::uint64_t bytes) noexcept;
// False where PopulateForWriting never does anything (Windows, or a system older than Linux 5.14,
// asked once). Any thread.
[[nodiscard]] bool CanPopulateForWriting() noexcept;

// A block of `bytes` from the C heap, aligned to `alignment` (a power of two; 0: the heap's own
// alignment), to be given back with FreeBlock only. Failure answer: nullptr. Any thread.
[[nodiscard]] void* AllocateBlock(std::size_t bytes, std::size_t alignment = 0) noexcept;
void FreeBlock(void* block) noexcept;

// A block of `bytes` mapped straight from the system, aligned to `alignment` (a power of two and
// a multiple of the page size; Windows gives its own 64 KiB granularity, which serves, as it takes
// no large-page advice), whose pages read as zero until written. Failure answer: nullptr.
// Any thread. ShrinkMappedBlock gives back everything after the first `keep` bytes (a multiple of
// the alignment, at most `bytes`); UnmapBlock gives back the block, with the size it has now.
[[nodiscard]] void* MapBlock(std::size_t bytes, std::size_t alignment) noexcept;
void ShrinkMappedBlock(void* block, std::size_t bytes, std::size_t keep) noexcept;
void UnmapBlock(void* block, std::size_t bytes) noexcept;
// Moves the pages of a mapped block of `bytes` to the start of a new mapped block of `larger`
// bytes (aligned as MapBlock aligns), without copying them; the rest reads as zero. Answers the
// new block (the old address is then gone), or nullptr with the block unchanged, always where the
// system cannot move pages (Windows). Any thread.
[[nodiscard]] void* GrowMappedBlock(void* block, std::size_t bytes, std::size_t larger,
                                    std::size_t alignment) noexcept;
// True where the system can move a mapped block's pages (GrowMappedBlock); false on Windows.
[[nodiscard]] bool CanMovePages() noexcept;

// ---- Time and the heap -------------------------------------------------------------------

void SleepMilliseconds(std::uint32_t milliseconds);

// Ends the process at once with `status`: no destructors, no exit handlers, no library's detach
// code (which could wait on a lock a stuck thread holds). Any thread.
[[noreturn]] void EndProcessNow(int status) noexcept;

// Gives freed heap memory back to the system where the allocator can (after a playback ends).
void CompactHeap();

// ---- Scheduling --------------------------------------------------------------------------

// Raises the calling thread to a real-time audio priority for the life of the scope and restores
// the previous scheduling afterwards, on the same thread. On Windows the thread joins the
// multimedia class scheduler's "Pro Audio" task with a 1 ms timer resolution, and a refusal is a
// failure the caller must act on (Refused). On POSIX it is best effort: without the right to, the
// thread keeps its priority and the scope is never refused.
class AudioPriorityScope {
 public:
  AudioPriorityScope() noexcept;
  ~AudioPriorityScope();
  AudioPriorityScope(const AudioPriorityScope&) = delete;
  AudioPriorityScope& operator=(const AudioPriorityScope&) = delete;

  // True when the system refused the raise; then nothing was changed.
  [[nodiscard]] bool Refused() const noexcept { return refused_; }

 private:
  // POSIX: the scheduling to restore. Windows: the scheduler's task handle.
  int previousPolicy_ = 0;
  int previousPriority_ = 0;
  [[maybe_unused]] void* task_ = nullptr;  // Windows only
  bool raised_ = false;
  bool refused_ = false;
};

// ---- The program itself ------------------------------------------------------------------

// Full path of the running executable; empty when it cannot be found.
std::u16string ExecutablePath();

// Directory of the running executable (where the outside components are looked for).
std::u16string ExecutableDirectory();

// The file name of an outside program or library called `base` on this system ("ffmpeg" and
// "WinFMP.so" here; "ffmpeg.exe" and "WinFMP.dll" where programs carry an extension).
std::u16string ProgramFileName(std::u16string_view base);
std::u16string ModuleFileName(std::u16string_view base);

// Per-thread set-up of the component system the device interfaces need (nothing to do on POSIX).
// Failure answer: false, nothing to undo. Each success is paired with UninitializeApartment.
[[nodiscard]] bool InitializeApartment();
void UninitializeApartment();

// ---- Files and directories ----------------------------------------------------------------

enum class OpenMode {
  kReadShared,     // an existing file, for reading; others may open it too
  kReadExclusive,  // an existing file, for reading, refused while another holder has it open
  kCreateNew,      // a new file for writing; fails when the path exists
  kCreateAlways,   // a file for writing, truncated when it exists
};

// An open file; closed when destroyed. One thread at a time.
class File {
 public:
  // Failure answer: nullptr (missing file, no permission, exclusive refusal, existing file for
  // kCreateNew, a path that is not valid text).
  static std::unique_ptr<File> Open(std::u16string_view path, OpenMode mode) noexcept;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Reads up to `bytes`; answers the count read (0 at the end of the file), or -1 on failure.
  std::int64_t Read(void* buffer, std::uint64_t bytes) noexcept;
  // Writes up to `bytes`; answers the count written, or -1 on failure.
  std::int64_t Write(const void* buffer, std::uint64_t bytes) noexcept;
  // Moves to an absolute offset. Failure answer: false.
  [[nodiscard]] bool Seek(std::uint64_t offset) noexcept;
  // Size in bytes. Failure answer: false.
  [[nodiscard]] bool Size(std::uint64_t* bytes) const noexcept;
  // The offset the next Read starts at. Failure answer: false.
  [[nodiscard]] bool Position(std::uint64_t* offset) const noexcept;
  // Waits until what was written is on the storage device, so that it outlives a power cut.
  // Failure answer: false.
  [[nodiscard]] bool Flush() noexcept;

 private:
  // A POSIX file descriptor, or a Windows file handle.
  explicit File(std::intptr_t descriptor) : descriptor_(descriptor) {}
  std::intptr_t descriptor_;
};

struct FileAttributes {
  bool directory = false;
  // Neither a regular file nor a directory: a pipe, a socket or a device, which a reader could
  // wait on for ever.
  bool special = false;
  std::uint64_t size = 0;
};

// Attributes of a path (file or directory). Failure answer: false (the path does not exist or
// cannot be examined).
[[nodiscard]] bool GetFileAttributes(std::u16string_view path, FileAttributes* attributes);

// What the system said of the calling thread's last failed call (errno, or the last error on
// Windows), as a line of text; read it right after the call that failed.
std::string LastSystemError();

// True when the path names a pipe, a socket or a device (FileAttributes::special).
[[nodiscard]] bool IsSpecialFile(std::u16string_view path);

// True when the path names nothing, or a regular file that is not a link (a file that can be
// replaced by a rename without harm); false for a directory, a link, a pipe, a socket or a
// device (/dev/null, NUL), and when the path cannot be examined.
[[nodiscard]] bool IsPlainFileOrAbsent(std::u16string_view path);

// True when the two paths name one file: the same file of the same device where both exist
// (through links or any spelling), or the same canonical path where neither does.
[[nodiscard]] bool SameFile(std::u16string_view a, std::u16string_view b);

// True when the path names an existing file or directory (a relative path is taken against the
// current directory).
[[nodiscard]] bool PathFileExists(std::u16string_view path);

// Deletes a file. Failure answer: false.
bool DeleteFile(std::u16string_view path);

// Gives the file `from` the name `to` in one step, replacing a file of that name: a reader sees
// the old file or the new one, never a part. Both names on one volume. Failure answer: false,
// nothing renamed.
[[nodiscard]] bool ReplaceFile(std::u16string_view from, std::u16string_view to);

struct DirectoryEntry {
  std::u16string name;  // the entry's own name, without its directory
  bool directory = false;
};

// Every entry of a directory except "." and "..", in the order the system gives them.
// Failure answer: false, `entries` empty.
[[nodiscard]] bool ListDirectory(std::u16string_view path, std::vector<DirectoryEntry>* entries);

// The process's current directory; empty when it cannot be read.
std::u16string CurrentDirectory();

// Makes `path` the process's current directory (for every thread). Failure answer: false,
// unchanged.
bool SetCurrentDirectory(std::u16string_view path);

struct LocalTime {
  int year, month, day, hour, minute, second, milliseconds;
};
LocalTime CurrentLocalTime();

// ---- The narrow code page ----------------------------------------------------------------

// True when `path` comes back unchanged from a round trip through the system's narrow code page
// (on POSIX the codeset of the calling thread's locale): wide to narrow and back, neither
// direction substituting a default character. An unpaired surrogate, a NUL or any character the
// code page cannot hold fails. Any thread.
[[nodiscard]] bool AnsiPathCheck(std::u16string_view path);

// `text` in the system's narrow code page, for a library that takes narrow paths: the first half
// of that round trip, with no default character. Failure answer: false (a character the code
// page cannot hold, an unpaired surrogate, a NUL), `narrow` unchanged. Any thread.
[[nodiscard]] bool ToAnsi(std::u16string_view text, std::string* narrow);

// ---- Child processes and standard output -------------------------------------------------

// A child program started from an argument vector (no shell, no quoting), in its own process
// group, with its standard input and output on pipes and its standard error discarded. The
// parent's pipe ends are close-on-exec, so no other child inherits them.
//
// Thread contract: CloseInput and ReadOutput belong to one thread (the reader); Running and
// Terminate may be called from any other thread at the same time, also while a read blocks.
// The child is reaped exactly once, so a Terminate never reaches a recycled process id.
class ChildProcess {
 public:
  // Starts `program` (a full path; the child's own name is that path) with `arguments` after it,
  // in the parent's environment and current directory. Failure answer: nullptr (no pipe, no
  // start), nothing left behind.
  [[nodiscard]] static std::unique_ptr<ChildProcess> Start(
      std::u16string_view program, const std::vector<std::u16string>& arguments) noexcept;

  // Terminates the child if it still runs, reaps it and closes every pipe end still open.
  virtual ~ChildProcess() = default;

  // Closes the child's standard input (it sees the end of its input).
  virtual void CloseInput() noexcept = 0;
  // Reads up to `bytes` of the child's standard output, blocking until some arrive; answers the
  // count, 0 once the child has closed its output, -1 on failure.
  virtual std::int64_t ReadOutput(void* buffer, std::uint64_t bytes) noexcept = 0;
  // True while the child has not exited.
  [[nodiscard]] virtual bool Running() noexcept = 0;
  // Ends the child at once if it still runs (its output then reaches its end).
  virtual void Terminate() noexcept = 0;
};

// Writes all of `bytes` to the process's standard output. A closed or failing output answers
// false (the process is not ended by the broken pipe). One thread at a time.
[[nodiscard]] bool WriteStandardOutput(const void* bytes, std::uint64_t count) noexcept;

// Keeps the process's standard output for WriteStandardOutput alone: whatever else the process
// writes to it from now on (a loaded library's messages) goes nowhere. Call once, before loading
// such a library. Failure answer: false, nothing changed.
[[nodiscard]] bool ReserveStandardOutput() noexcept;

// ---- Modules -----------------------------------------------------------------------------

// A library loaded into the process by path; unloaded when destroyed. Any thread.
class Module {
 public:
  // Failure answer: nullptr (missing, not a library, unresolved dependencies).
  [[nodiscard]] static std::unique_ptr<Module> Load(std::u16string_view path) noexcept;
  virtual ~Module() = default;
  // The address of the exported symbol `name`; nullptr when the library has none.
  [[nodiscard]] virtual void* Find(const char* name) const noexcept = 0;
};

// ---- Events ------------------------------------------------------------------------------

enum class WaitResult { kSignalled, kTimeout };

// An auto-reset event: Set wakes exactly one wait (or the next one), which resets it.
// Every method may be called from any thread. On Windows it is an event object of the system's
// own, which a device can signal itself (NativeHandle); on POSIX systems it is the program's.
class Event {
 public:
  // Failure answer: nullptr.
  static std::unique_ptr<Event> Create() noexcept;
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // Waits until the event is set (and resets it) or the time runs out.
  WaitResult Wait(std::uint32_t milliseconds);
  // The system's event object (a HANDLE) on Windows; nullptr on POSIX systems.
  [[nodiscard]] void* NativeHandle() const noexcept { return native_; }

 private:
  Event() = default;
  // POSIX: the state the methods share. Windows: the event object alone.
  std::mutex mutex_;
  std::condition_variable signalled_;
  bool set_ = false;
  void* native_ = nullptr;
};

// ---- Threads -----------------------------------------------------------------------------

// A started thread that must be joined before it is destroyed.
class Thread {
 public:
  virtual ~Thread() = default;
  virtual void Join() = 0;
};

// Starts threads; a start can fail (answer nullptr), and the caller must cope. Any thread.
class ThreadStarter {
 public:
  virtual ~ThreadStarter() = default;
  [[nodiscard]] virtual std::unique_ptr<Thread> Start(std::function<void()> body) noexcept = 0;
};

// The system's threads (default stack size, running at once).
ThreadStarter& SystemThreads();

// Starts a thread nobody joins (a playback or stop thread). Failure answer: false, body dropped.
[[nodiscard]] bool StartDetachedThread(std::function<void()> body) noexcept;

// A count of detached threads that someone must outlive: each thread is counted before it starts
// and leaves as its very last touch of the owner; the owner waits for the count to reach zero
// without polling. Leave() notifies while it holds the lock, so the waiter may destroy the count
// as soon as its wait returns. Any thread.
class ThreadCount {
 public:
  void Enter();
  void Leave();
  int Running() const;
  // Waits until no counted thread runs; false when `milliseconds` ran out first.
  [[nodiscard]] bool WaitForNone(std::uint32_t milliseconds) const;
  // Waits without a time limit.
  void WaitForNone() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  int running_ = 0;
};

}  // namespace lumaro::platform
