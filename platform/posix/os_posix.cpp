// The operating-system facts of os.h on POSIX systems.
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <thread>

#include "platform/os.h"
#include "platform/os_system.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::platform {
namespace {

constexpr std::uint64_t kKibibyte = 1024;

}  // namespace

// MemAvailable of /proc/meminfo, or the free pages where the kernel does not report it.
bool SystemMemoryStatus(std::uint64_t* availableBytes) {
  if (std::FILE* file = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    bool found = false;
    while (std::fgets(line, sizeof line, file) != nullptr) {
      unsigned long long kib = 0;
      if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
        *availableBytes = static_cast<std::uint64_t>(kib) * kKibibyte;
        found = true;
        break;
      }
    }
    std::fclose(file);
    if (found) return true;
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages < 0 || pageSize <= 0) return false;
  *availableBytes = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
  return true;
}

unsigned ProcessorCount() {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1U;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void EndProcessNow(int status) noexcept { ::_exit(status); }

void CompactHeap() { malloc_trim(0); }

void* AllocateBlock(std::size_t bytes, std::size_t alignment) noexcept {
  return alignment == 0 ? std::malloc(bytes) : std::aligned_alloc(alignment, bytes);
}

void FreeBlock(void* block) noexcept { std::free(block); }

void* MapBlock(std::size_t bytes, std::size_t alignment) noexcept {
  if (bytes == 0 || bytes > SIZE_MAX - alignment) return nullptr;
  // Map one alignment more than asked and cut the unaligned ends off.
  const std::size_t span = bytes + alignment;
  void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto* start = static_cast<unsigned char*>(raw);
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(start);
  unsigned char* aligned = start + ((alignment - address % alignment) % alignment);
  if (aligned != start) ::munmap(start, static_cast<std::size_t>(aligned - start));
  unsigned char* end = aligned + bytes;
  if (end != start + span) ::munmap(end, static_cast<std::size_t>(start + span - end));
  return aligned;
}

void ShrinkMappedBlock(void* block, std::size_t bytes, std::size_t keep) noexcept {
  if (keep < bytes) ::munmap(static_cast<unsigned char*>(block) + keep, bytes - keep);
}

void UnmapBlock(void* block, std::size_t bytes) noexcept {
  if (block != nullptr) ::munmap(block, bytes);
}

bool CanMovePages() noexcept {
#ifdef MREMAP_FIXED
  return true;
#else
  return false;
#endif
}

void* GrowMappedBlock(void* block, std::size_t bytes, std::size_t larger,
                      std::size_t alignment) noexcept {
#ifdef MREMAP_FIXED
  auto* grown = static_cast<unsigned char*>(MapBlock(larger, alignment));
  if (grown == nullptr) return nullptr;
  // The old pages replace the first `bytes` of the new mapping.
  if (::mremap(block, bytes, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, grown) != MAP_FAILED) {
    return grown;
  }
  // A move that fails may already have unmapped the place it was to take: it is mapped again at
  // once, and where another thread's mapping took it first, that part is not ours to unmap.
  void* again = ::mmap(grown, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (again == grown) {
    UnmapBlock(grown, larger);
  } else {
    if (again != MAP_FAILED) UnmapBlock(again, bytes);  // a system that took it as a hint
    UnmapBlock(grown + bytes, larger - bytes);
  }
  return nullptr;
#else
  (void)block;
  (void)bytes;
  (void)larger;
  (void)alignment;
  return nullptr;
#endif
}

void AdviseLargePages(void* block, std::uint64_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  ::madvise(block, static_cast<std::size_t>(bytes), MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

void PopulateForWriting(void* block, std::uint64_t bytes) noexcept {
#ifdef MADV_POPULATE_WRITE
  if (bytes == 0) return;
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = start - start % page;  // the block's first page holds its start
  ::madvise(reinterpret_cast<void*>(first), static_cast<std::size_t>(start + bytes - first),
            MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)bytes;
#endif
}

bool CanPopulateForWriting() noexcept {
#ifdef MADV_POPULATE_WRITE
  // A system that does not know the advice refuses it on any page.
  static const bool known = [] {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    void* probe = ::mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (probe == MAP_FAILED) return false;
    const bool answered = ::madvise(probe, page, MADV_POPULATE_WRITE) == 0;
    ::munmap(probe, page);
    return answered;
  }();
  return known;
#else
  return false;
#endif
}

std::u16string ExecutablePath() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return Utf8ToUtf16(std::string_view(buffer, static_cast<std::size_t>(length)));
}

// A modest real-time priority: above every normal thread, below the system's own real-time work.
constexpr int kAudioPriorityAboveMinimum = 10;

AudioPriorityScope::AudioPriorityScope() noexcept {
  sched_param previous{};
  if (pthread_getschedparam(pthread_self(), &previousPolicy_, &previous) != 0) return;
  previousPriority_ = previous.sched_priority;
  sched_param audio{};
  audio.sched_priority = sched_get_priority_min(SCHED_RR) + kAudioPriorityAboveMinimum;
  raised_ = pthread_setschedparam(pthread_self(), SCHED_RR, &audio) == 0;
}

AudioPriorityScope::~AudioPriorityScope() {
  if (!raised_) return;
  sched_param previous{};
  previous.sched_priority = previousPriority_;
  pthread_setschedparam(pthread_self(), previousPolicy_, &previous);
}

bool InitializeApartment() { return true; }
void UninitializeApartment() {}

bool StartDetachedThread(std::function<void()> body) noexcept {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::unique_ptr<Event> Event::Create() noexcept {
  return std::unique_ptr<Event>(new (std::nothrow) Event());
}

Event::~Event() = default;

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
  }
  signalled_.notify_one();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}

WaitResult Event::Wait(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!signalled_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return set_; })) {
    return WaitResult::kTimeout;
  }
  set_ = false;
  return WaitResult::kSignalled;
}

}  // namespace lumaro::platform
