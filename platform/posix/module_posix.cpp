// Modules of os.h on POSIX systems.
#include <dlfcn.h>

#include <new>

#include "platform/os.h"
#include "platform/posix/native_path.h"

namespace lumaro::platform {
namespace {

// A library opened with dlopen; closed when destroyed.
class PosixModule final : public Module {
 public:
  explicit PosixModule(void* handle) : handle_(handle) {}
  ~PosixModule() override { ::dlclose(handle_); }
  PosixModule(const PosixModule&) = delete;
  PosixModule& operator=(const PosixModule&) = delete;

  void* Find(const char* name) const noexcept override { return ::dlsym(handle_, name); }

 private:
  void* handle_;
};

}  // namespace

std::u16string ModuleFileName(std::u16string_view base) {
  std::u16string name(base);
  name += u".so";
  return name;
}

std::unique_ptr<Module> Module::Load(std::u16string_view path) noexcept {
  std::string native;
  if (path.empty() || !NativePath(path, &native)) return nullptr;
  // A name without a separator would send dlopen through the system's library search; the
  // caller means the file of that name in the current directory.
  if (native.find('/') == std::string::npos) native.insert(0, "./");
  // Every symbol resolved now, so a library with a missing dependency fails here rather than
  // in the middle of a call; none of its symbols is offered to later libraries.
  void* handle = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  auto* module = new (std::nothrow) PosixModule(handle);
  if (module == nullptr) ::dlclose(handle);
  return std::unique_ptr<Module>(module);
}

}  // namespace lumaro::platform
