// Modules of os.h on Windows.
#include <new>

#include "platform/os.h"
#include "platform/win32/win32_api.h"

namespace lumaro::platform {
namespace {

// A library loaded with LoadLibraryExW; freed when destroyed.
class Win32Module final : public Module {
 public:
  explicit Win32Module(HMODULE handle) : handle_(handle) {}
  ~Win32Module() override { ::FreeLibrary(handle_); }
  Win32Module(const Win32Module&) = delete;
  Win32Module& operator=(const Win32Module&) = delete;

  void* Find(const char* name) const noexcept override {
    return reinterpret_cast<void*>(::GetProcAddress(handle_, name));
  }

 private:
  HMODULE handle_;
};

}  // namespace

std::u16string ModuleFileName(std::u16string_view base) {
  std::u16string name(base);
  name += u".dll";
  return name;
}

std::unique_ptr<Module> Module::Load(std::u16string_view path) noexcept {
  std::wstring native;
  if (path.empty() || !NativePath(path, &native)) return nullptr;
  // A bare name would go through the system's library search; the caller means the file of that
  // name in the current directory. The library's own dependencies are looked for beside it.
  if (native.find_first_of(L"\\/") == std::wstring::npos) native.insert(0, L".\\");
  const HMODULE handle = ::LoadLibraryExW(native.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (handle == nullptr) return nullptr;
  auto* module = new (std::nothrow) Win32Module(handle);
  if (module == nullptr) ::FreeLibrary(handle);
  return std::unique_ptr<Module>(module);
}

}  // namespace lumaro::platform
