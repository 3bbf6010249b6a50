#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::platform {

// One failing call: its code, the code's short name and what the site adds (a size, a path, a
// device's answer).
struct FailureNote {
  Result code = kOk;
  std::string_view name;  // static text
  std::string detail;
};

// The failure chain of a thread: the failing calls in the order they were noted, so the
// innermost cause comes first. Only a thread inside a FailureRecording keeps one; elsewhere a
// note costs one thread-local test and is dropped.
//
// Notes a failure on the calling thread's chain, unless the recording's stop word is set (a
// failure during a stop is not a failure of the playback).
void NoteFailure(Result code, std::string_view name, std::string_view detail = {}) noexcept;
void NoteFailure(Result code, std::string_view name, std::u16string_view path) noexcept;
// Notes a failed system call on `path` with the system's reason: "path: reason". Call it right
// after the failed call, before anything else can change the reason.
void NoteSystemFailure(Result code, std::string_view name, std::u16string_view path) noexcept;

// The chain's length, and the chain cut back to such a length: a call that succeeded after
// failures it recovered from leaves the chain as it found it.
[[nodiscard]] std::size_t FailureChainMark() noexcept;
void RewindFailureChain(std::size_t mark) noexcept;

// Takes the calling thread's chain, leaving it empty.
[[nodiscard]] std::vector<FailureNote> TakeFailureChain() noexcept;

// The calling thread keeps a chain, empty at the start, while this lives; notes are dropped
// while `*stop` is nonzero. Not nested.
class FailureRecording {
 public:
  explicit FailureRecording(const StopWord* stop) noexcept;
  ~FailureRecording();
  FailureRecording(const FailureRecording&) = delete;
  FailureRecording& operator=(const FailureRecording&) = delete;
};

// "name [0x4201] detail" for each note, outermost first, joined by ": "; a detail equal to the
// one of the call just outside it is left out.
std::string FormatFailureChain(const std::vector<FailureNote>& chain);

// A size in bytes as a person reads it: "6.8 GB", "512.0 MB", "4096 bytes" (decimal units).
std::string FormatBytes(std::uint64_t bytes);

// The short names of one site's codes, checked when the program is compiled: one nonempty name
// per code, as many as the codes from the site's first code to `last`, within its block.
template <std::size_t N>
class FailureNames {
 public:
  consteval FailureNames(FailureSite site, Result last, const std::string_view (&names)[N])
      : first_(FirstCode(site)) {
    const FailureBlock& block = kFailureBlocks[static_cast<std::size_t>(site)];
    if (N > block.room || last != first_ + N - 1) throw "the names do not match the codes";
    for (std::size_t i = 0; i < N; ++i) {
      if (names[i].empty()) throw "a failure code has no name";
      names_[i] = names[i];
    }
  }

  constexpr bool Owns(Result code) const { return code >= first_ && code - first_ < N; }
  constexpr std::string_view Name(Result code) const { return names_[code - first_]; }

  // Notes `result` when it is one of this site's codes (a callee's code was noted by the
  // callee); answers `result` unchanged.
  Result Note(Result result, std::string_view detail = {}) const noexcept {
    if (Owns(result)) NoteFailure(result, Name(result), detail);
    return result;
  }
  Result Note(Result result, std::u16string_view path) const noexcept {
    if (Owns(result)) NoteFailure(result, Name(result), path);
    return result;
  }
  Result NoteSystemFailure(Result result, std::u16string_view path) const noexcept {
    if (Owns(result)) platform::NoteSystemFailure(result, Name(result), path);
    return result;
  }

 private:
  Result first_;
  std::string_view names_[N] = {};
};

// The result and failure chains of the playbacks that ended, kept for a reader on another
// thread. Any thread (one lock).
class FailureReport {
 public:
  struct Failed {
    Result result;
    std::vector<FailureNote> chain;  // innermost cause first
  };

  // A playback ended with `result`; a failure keeps its chain (the latest kMaxKept).
  void Add(Result result, std::vector<FailureNote> chain) noexcept;
  // The result of the last playback that was added (0 before any).
  [[nodiscard]] Result LastResult() const noexcept;
  // The failed playbacks not taken yet, oldest first.
  [[nodiscard]] std::vector<Failed> TakeFailed() noexcept;

  static constexpr std::size_t kMaxKept = 8;

 private:
  mutable std::mutex lock_;
  Result last_ = kOk;
  std::vector<Failed> failed_;
};

}  // namespace lumaro::platform
