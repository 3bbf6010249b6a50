#include "platform/failure.h"

#include <cinttypes>
#include <cstdio>
#include <exception>
#include <utility>

#include "platform/os.h"
#include "platform/text.h"

namespace lumaro::platform {
namespace {

// A chain longer than this loses notes from its middle: the innermost causes and the outermost
// calls are what a reader needs.
constexpr std::size_t kMaxNotes = 32;

struct Chain {
  bool recording = false;
  const StopWord* stop = nullptr;
  std::vector<FailureNote> notes;
};

thread_local Chain chain;

bool Noting() noexcept {
  return chain.recording && (chain.stop == nullptr || chain.stop->Load() == 0);
}

void Append(FailureNote note) noexcept {
  try {
    if (chain.notes.size() >= kMaxNotes) chain.notes.erase(chain.notes.begin() + kMaxNotes / 2);
    chain.notes.push_back(std::move(note));
  } catch (const std::exception&) {
    // Out of memory: the chain goes without this note.
  }
}

}  // namespace

void NoteFailure(Result code, std::string_view name, std::string_view detail) noexcept {
  if (!Noting()) return;
  try {
    Append(FailureNote{code, name, std::string(detail)});
  } catch (const std::exception&) {
  }
}

void NoteFailure(Result code, std::string_view name, std::u16string_view path) noexcept {
  if (!Noting()) return;
  try {
    Append(FailureNote{code, name, Utf16ToUtf8(path)});
  } catch (const std::exception&) {
  }
}

void NoteSystemFailure(Result code, std::string_view name, std::u16string_view path) noexcept {
  if (!Noting()) return;
  try {
    const std::string reason = LastSystemError();
    Append(FailureNote{code, name, Utf16ToUtf8(path) + ": " + reason});
  } catch (const std::exception&) {
  }
}

std::size_t FailureChainMark() noexcept { return chain.notes.size(); }

void RewindFailureChain(std::size_t mark) noexcept {
  if (mark < chain.notes.size()) chain.notes.resize(mark);
}

std::vector<FailureNote> TakeFailureChain() noexcept { return std::exchange(chain.notes, {}); }

FailureRecording::FailureRecording(const StopWord* stop) noexcept {
  chain.notes.clear();
  chain.stop = stop;
  chain.recording = true;
}

FailureRecording::~FailureRecording() {
  chain.recording = false;
  chain.stop = nullptr;
  chain.notes = {};
}

std::string FormatFailureChain(const std::vector<FailureNote>& notes) {
  std::string text;
  std::string_view shown;  // a detail is not repeated by the call right inside
  for (auto note = notes.rbegin(); note != notes.rend(); ++note) {
    char code[16];
    std::snprintf(code, sizeof code, " [0x%04" PRIx32 "]", note->code);
    if (!text.empty()) text += ": ";
    text.append(note->name).append(code);
    if (!note->detail.empty() && note->detail != shown) text += " " + note->detail;
    shown = note->detail;
  }
  return text;
}

std::string FormatBytes(std::uint64_t bytes) {
  constexpr std::uint64_t kMega = 1000000;
  constexpr std::uint64_t kGiga = 1000000000;
  if (bytes < kMega) return std::to_string(bytes) + " bytes";
  const bool giga = bytes >= kGiga;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s",
                static_cast<double>(bytes) / static_cast<double>(giga ? kGiga : kMega),
                giga ? "GB" : "MB");
  return text;
}

void FailureReport::Add(Result result, std::vector<FailureNote> chain) noexcept {
  const std::lock_guard<std::mutex> hold(lock_);
  last_ = result;
  if (result == kOk) return;
  try {
    if (failed_.size() >= kMaxKept) failed_.erase(failed_.begin());
    failed_.push_back(Failed{result, std::move(chain)});
  } catch (const std::exception&) {
    // Out of memory: the result is kept without its chain.
  }
}

Result FailureReport::LastResult() const noexcept {
  const std::lock_guard<std::mutex> hold(lock_);
  return last_;
}

std::vector<FailureReport::Failed> FailureReport::TakeFailed() noexcept {
  const std::lock_guard<std::mutex> hold(lock_);
  return std::exchange(failed_, {});
}

}  // namespace lumaro::platform
