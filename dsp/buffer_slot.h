#pragma once

#include <type_traits>
#include <utility>
#include <variant>

#include "dsp/audio_buffer.h"
#include "dsp/dsd_buffer.h"
#include "dsp/pcm_buffer.h"

namespace lumaro::dsp {

// The place where a track's current sample record lives (the PlayRequest's Buffer). Every stage
// takes the record out, puts its result back, and leaves the slot empty when it fails.
// Not shared between threads: only the playback thread touches it.
class BufferSlot {
 public:
  using Record = std::variant<std::monostate, AudioBufferPtr, PcmBufferPtr, DsdBufferPtr>;

  bool Empty() const noexcept { return std::holds_alternative<std::monostate>(record_); }

  // The record if the slot holds one of that type, else nullptr.
  template <class T>
  T* Get() noexcept {
    auto* held = std::get_if<RecordPtr<T>>(&record_);
    return held != nullptr ? held->get() : nullptr;
  }
  template <class T>
  const T* Get() const noexcept {
    const auto* held = std::get_if<RecordPtr<T>>(&record_);
    return held != nullptr ? held->get() : nullptr;
  }

  // Takes the record out and leaves the slot empty.
  Record Take() noexcept { return std::exchange(record_, std::monostate{}); }

  // Takes the record out as a T; a record of another kind is freed and nullptr answered.
  // The slot is empty afterwards either way.
  template <class T>
  RecordPtr<T> TakeAs() noexcept {
    Record taken = Take();
    auto* held = std::get_if<RecordPtr<T>>(&taken);
    return held != nullptr ? std::move(*held) : RecordPtr<T>{};
  }

  // Puts a record in, freeing whatever the slot held. A null pointer empties the slot.
  template <class T>
  void Put(RecordPtr<T> record) noexcept {
    if (record) {
      record_ = std::move(record);
    } else {
      record_ = std::monostate{};
    }
  }
  void Put(Record record) noexcept { record_ = std::move(record); }

  void Clear() noexcept { record_ = std::monostate{}; }

 private:
  Record record_;
};

}  // namespace lumaro::dsp
