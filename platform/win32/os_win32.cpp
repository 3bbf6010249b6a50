// The operating-system facts of os.h on Windows.
#include <malloc.h>
#include <objbase.h>
#include <process.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

#include "platform/os.h"
#include "platform/os_system.h"
#include "platform/path.h"
#include "platform/win32/win32_api.h"

// The scheduler's and the timer's headers build on the Windows headers above.
#include <avrt.h>
#include <timeapi.h>

namespace lumaro::platform {
namespace {

constexpr DWORD kLongestPath = 32768;

// The body of a detached thread, which owns it.
unsigned __stdcall RunDetached(void* body) {
  const std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(body));
  (*owned)();
  return 0;
}
// The scheduler's task class of the playback thread, and the timer period asked for meanwhile.
constexpr wchar_t kAudioTaskClass[] = L"Pro Audio";
constexpr UINT kTimerPeriodMilliseconds = 1;

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

void EndProcessNow(int status) noexcept {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  std::_Exit(status);  // not reached
}

void CompactHeap() { (void)_heapmin(); }

// The C runtime's free cannot take an aligned block, so every block comes from _aligned_malloc
// (the small ones at the heap's own alignment) and goes back through _aligned_free.
void* AllocateBlock(std::size_t bytes, std::size_t alignment) noexcept {
  return _aligned_malloc(bytes, alignment == 0 ? alignof(std::max_align_t) : alignment);
}

void FreeBlock(void* block) noexcept { _aligned_free(block); }

// The system's allocation granularity (64 KiB) is the alignment a mapping gets; the large-page
// alignment asked for elsewhere only serves the large-page advice, which Windows does not take.
void* MapBlock(std::size_t bytes, std::size_t) noexcept {
  return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ShrinkMappedBlock(void* block, std::size_t bytes, std::size_t keep) noexcept {
  if (keep < bytes)
    ::VirtualFree(static_cast<unsigned char*>(block) + keep, bytes - keep, MEM_DECOMMIT);
}

void UnmapBlock(void* block, std::size_t) noexcept {
  if (block != nullptr) ::VirtualFree(block, 0, MEM_RELEASE);
}

void* GrowMappedBlock(void*, std::size_t, std::size_t, std::size_t) noexcept { return nullptr; }

bool CanMovePages() noexcept { return false; }

void AdviseLargePages(void*, std::uint64_t) noexcept {}

void PopulateForWriting(void*, std::uint64_t) noexcept {}

bool CanPopulateForWriting() noexcept { return false; }

std::u16string ExecutablePath() {
  std::wstring buffer(kLongestPath, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), kLongestPath);
  if (length == 0 || length >= kLongestPath) return {};
  return FromWide(buffer.data(), length);
}

// The thread is registered with the multimedia class scheduler, which raises it above every
// normal thread while it prepares and feeds the device, and the system timer ticks every
// millisecond meanwhile.
AudioPriorityScope::AudioPriorityScope() noexcept {
  DWORD taskIndex = 0;  // 0: a new task of the class
  task_ = ::AvSetMmThreadCharacteristicsW(kAudioTaskClass, &taskIndex);
  refused_ = task_ == nullptr;
  raised_ = !refused_ && ::timeBeginPeriod(kTimerPeriodMilliseconds) == TIMERR_NOERROR;
}

AudioPriorityScope::~AudioPriorityScope() {
  if (raised_) ::timeEndPeriod(kTimerPeriodMilliseconds);
  if (task_ != nullptr) ::AvRevertMmThreadCharacteristics(task_);
}

bool InitializeApartment() {
  // A single-threaded apartment, as drivers registered for one expect: their objects are then
  // created in this thread's apartment and called directly, with no marshalling.
  const HRESULT answer = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  return answer == S_OK || answer == S_FALSE;
}

void UninitializeApartment() { ::CoUninitialize(); }

// A thread of the system's own rather than a detached std::thread: under the threads library of
// the C++ runtime a thread detached at once now and then never ran its body (a stop thread the
// main window then waited for forever).
bool StartDetachedThread(std::function<void()> body) noexcept {
  try {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, &RunDetached, owned.get(), 0, nullptr);
    if (thread == 0) return false;
    (void)owned.release();  // the thread's now
    ::CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::unique_ptr<Event> Event::Create() noexcept {
  std::unique_ptr<Event> event(new (std::nothrow) Event());
  if (!event) return nullptr;
  event->native_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event->native_ == nullptr) return nullptr;
  return event;
}

Event::~Event() {
  if (native_ != nullptr) ::CloseHandle(native_);
}

void Event::Set() { ::SetEvent(native_); }

void Event::Reset() { ::ResetEvent(native_); }

WaitResult Event::Wait(std::uint32_t milliseconds) {
  return ::WaitForSingleObject(native_, milliseconds) == WAIT_OBJECT_0 ? WaitResult::kSignalled
                                                                       : WaitResult::kTimeout;
}

}  // namespace lumaro::platform
