// The parts of os.h that are the same on every system.
#include <atomic>

#include "platform/os.h"
#include "platform/os_system.h"
#include "platform/path.h"

namespace lumaro::platform {
namespace {

std::atomic<MemoryStatusSource> memoryStatusSource{nullptr};

}  // namespace

bool AvailablePhysicalMemory(std::uint64_t* availableBytes) {
  const MemoryStatusSource source = memoryStatusSource.load(std::memory_order_acquire);
  return source != nullptr ? source(availableBytes) : SystemMemoryStatus(availableBytes);
}

MemoryStatusSource SetMemoryStatusSource(MemoryStatusSource source) {
  return memoryStatusSource.exchange(source, std::memory_order_acq_rel);
}

bool IsSpecialFile(std::u16string_view path) {
  FileAttributes attributes;
  return GetFileAttributes(path, &attributes) && attributes.special;
}

bool SameFile(std::u16string_view a, std::u16string_view b) {
  FileIdentity first{}, second{};
  const bool firstExists = IdentifyFile(a, &first);
  const bool secondExists = IdentifyFile(b, &second);
  if (firstExists || secondExists) return firstExists && secondExists && first == second;
  const std::optional<std::u16string> canonicalA = PathCanonicalize(a);
  const std::optional<std::u16string> canonicalB = PathCanonicalize(b);
  return canonicalA && canonicalB && *canonicalA == *canonicalB;
}

std::u16string ExecutableDirectory() {
  std::u16string path = ExecutablePath();
  if (!PathRemoveFileSpec(path)) return {};
  return path;
}

}  // namespace lumaro::platform
