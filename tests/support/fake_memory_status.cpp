#include "tests/support/fake_memory_status.h"

#include <atomic>

namespace lumaro::testing {
namespace {
std::atomic<std::uint64_t> fakeAvailable{0};
std::atomic<bool> fakeAnswers{true};
std::atomic<int> fakeReads{0};

bool FakeSource(std::uint64_t* availableBytes) {
  fakeReads.fetch_add(1);
  *availableBytes = fakeAvailable.load();
  return fakeAnswers.load();
}
}  // namespace

FakeMemoryStatus::FakeMemoryStatus(std::uint64_t availableBytes, bool answers) {
  fakeAvailable = availableBytes;
  fakeAnswers = answers;
  fakeReads = 0;
  previous_ = platform::SetMemoryStatusSource(FakeSource);
}

FakeMemoryStatus::~FakeMemoryStatus() { platform::SetMemoryStatusSource(previous_); }

int FakeMemoryStatus::Reads() const { return fakeReads.load(); }

}  // namespace lumaro::testing
