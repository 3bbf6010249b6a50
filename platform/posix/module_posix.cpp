// Modules of os.h on POSIX systems.
#include "platform/os.h"

namespace lumaro::platform {

std::u16string ModuleFileName(std::u16string_view base) {
  std::u16string name(base);
  name += u".so";
  return name;
}

std::unique_ptr<Module> Module::Load(std::u16string_view) noexcept { return nullptr; }

}  // namespace lumaro::platform
