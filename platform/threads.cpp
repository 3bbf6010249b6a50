#include <exception>
#include <thread>

#include "platform/os.h"

namespace lumaro::platform {
namespace {

class SystemThread final : public Thread {
 public:
  explicit SystemThread(std::thread thread) : thread_(std::move(thread)) {}
  ~SystemThread() override {
    if (thread_.joinable()) thread_.join();
  }
  void Join() override {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

class SystemThreadStarter final : public ThreadStarter {
 public:
  std::unique_ptr<Thread> Start(std::function<void()> body) noexcept override {
    try {
      return std::make_unique<SystemThread>(std::thread(std::move(body)));
    } catch (const std::exception&) {
      return nullptr;
    }
  }
};

}  // namespace

ThreadStarter& SystemThreads() {
  static SystemThreadStarter starter;
  return starter;
}

void ThreadCount::Enter() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++running_;
}

void ThreadCount::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--running_ == 0) changed_.notify_all();
}

int ThreadCount::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

bool ThreadCount::WaitForNone(std::uint32_t milliseconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [&] { return running_ == 0; });
}

void ThreadCount::WaitForNone() const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return running_ == 0; });
}

}  // namespace lumaro::platform
