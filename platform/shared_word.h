#pragma once

#include <atomic>
#include <cstdint>

namespace lumaro::platform {

// A word shared between threads without locks: written whole, polled by readers. Loads and
// stores are relaxed, which is what a polled flag or counter needs; read-modify-write is
// offered only where the protocol asks for it (Exchange, CompareExchange).
template <class T>
class SharedWord {
 public:
  constexpr SharedWord() noexcept : value_(T{}) {}
  constexpr explicit SharedWord(T value) noexcept : value_(value) {}
  SharedWord(const SharedWord&) = delete;
  SharedWord& operator=(const SharedWord&) = delete;

  T Load() const noexcept { return value_.load(std::memory_order_relaxed); }
  void Store(T value) noexcept { value_.store(value, std::memory_order_relaxed); }
  T Exchange(T value) noexcept { return value_.exchange(value, std::memory_order_relaxed); }
  bool CompareExchange(T& expected, T desired) noexcept {
    return value_.compare_exchange_strong(expected, desired, std::memory_order_relaxed);
  }

  operator T() const noexcept { return Load(); }  // NOLINT(google-explicit-constructor)
  SharedWord& operator=(T value) noexcept {
    Store(value);
    return *this;
  }

 private:
  std::atomic<T> value_;
};

using Word = SharedWord<std::uint32_t>;
using SignedWord = SharedWord<std::int32_t>;
using Word64 = SharedWord<std::uint64_t>;

// The stop request every stage and reader polls (the AppContext's PlayCommand); nonzero = stop.
using StopWord = Word;

}  // namespace lumaro::platform
