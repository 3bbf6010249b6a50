#pragma once

#include <cstdint>

#include "platform/os.h"

namespace lumaro::testing {

// Makes the memory guard see `availableBytes` of free physical memory (or a failing memory
// status) for the life of the scope.
class FakeMemoryStatus {
 public:
  explicit FakeMemoryStatus(std::uint64_t availableBytes, bool answers = true);
  ~FakeMemoryStatus();
  FakeMemoryStatus(const FakeMemoryStatus&) = delete;
  FakeMemoryStatus& operator=(const FakeMemoryStatus&) = delete;

  // How many times the memory status was read.
  int Reads() const;

 private:
  platform::MemoryStatusSource previous_;
};

}  // namespace lumaro::testing
