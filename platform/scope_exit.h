#pragma once

#include <utility>

namespace lumaro::platform {

// Runs a callable when the scope ends, on every path: the undo half of a step that acquired
// something.
template <class F>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(F undo) : undo_(std::move(undo)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() { undo_(); }

 private:
  F undo_;
};

}  // namespace lumaro::platform
