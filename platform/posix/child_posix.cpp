// Child processes and standard output of os.h on POSIX systems.
#include "platform/os.h"

namespace lumaro::platform {

std::u16string ProgramFileName(std::u16string_view base) { return std::u16string(base); }

std::unique_ptr<ChildProcess> ChildProcess::Start(std::u16string_view,
                                                  const std::vector<std::u16string>&) noexcept {
  return nullptr;
}

bool WriteStandardOutput(const void*, std::uint64_t) noexcept { return false; }

}  // namespace lumaro::platform
