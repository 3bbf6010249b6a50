// The operating-system facts of os.h on Windows.
#include <malloc.h>
#include <objbase.h>

#include <atomic>
#include <cstddef>
#include <thread>

#include "platform/os.h"
#include "platform/os_system.h"
#include "platform/path.h"
#include "platform/win32/win32_api.h"

namespace lumaro::platform {
namespace {

constexpr DWORD kLongestPath = 32768;

}  // namespace

bool SystemMemoryStatus(std::uint64_t* availableBytes) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!::GlobalMemoryStatusEx(&status)) return false;
  *availableBytes = status.ullAvailPhys;
  return true;
}

unsigned ProcessorCount() {
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<unsigned>(info.dwNumberOfProcessors) : 1U;
}

void SleepMilliseconds(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void CompactHeap() { (void)_heapmin(); }

// The C runtime's free cannot take an aligned block, so every block comes from _aligned_malloc
// (the small ones at the heap's own alignment) and goes back through _aligned_free.
void* AllocateBlock(std::size_t bytes, std::size_t alignment) noexcept {
  return _aligned_malloc(bytes, alignment == 0 ? alignof(std::max_align_t) : alignment);
}

void FreeBlock(void* block) noexcept { _aligned_free(block); }

void AdviseLargePages(void*, std::uint64_t) noexcept {}

std::u16string ExecutablePath() {
  std::wstring buffer(kLongestPath, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), kLongestPath);
  if (length == 0 || length >= kLongestPath) return {};
  return FromWide(buffer.data(), length);
}

// The thread runs above every normal thread while it feeds the device.
AudioPriorityScope::AudioPriorityScope() noexcept {
  previousPriority_ = ::GetThreadPriority(::GetCurrentThread());
  raised_ = previousPriority_ != THREAD_PRIORITY_ERROR_RETURN &&
            ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

AudioPriorityScope::~AudioPriorityScope() {
  if (raised_) ::SetThreadPriority(::GetCurrentThread(), previousPriority_);
}

bool InitializeApartment() {
  const HRESULT answer = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  return answer == S_OK || answer == S_FALSE;
}

void UninitializeApartment() { ::CoUninitialize(); }

}  // namespace lumaro::platform
