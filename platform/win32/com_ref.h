#pragma once

#include <utility>

namespace lumaro::platform {

// One reference to a component object, released when the holder goes. Put() hands the address of
// the empty holder to a call that answers an object with a reference already taken.
// One thread at a time, the one of the object's apartment.
template <class Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(ComRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  [[nodiscard]] Interface* Get() const noexcept { return object_; }
  Interface* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Releases the object held (if any) and answers the empty slot for a call to fill.
  [[nodiscard]] Interface** Put() noexcept {
    Reset();
    return &object_;
  }
  void Reset() noexcept {
    if (object_ != nullptr) std::exchange(object_, nullptr)->Release();
  }

 private:
  Interface* object_ = nullptr;
};

}  // namespace lumaro::platform
