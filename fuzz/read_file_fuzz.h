#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dsp/buffer_slot.h"
#include "fuzz/fuzz_support.h"
#include "platform/failure.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::fuzz {

using FileReader = Result (*)(std::u16string_view path, dsp::BufferSlot& slot,
                              const platform::StopWord& stop);

// Runs `reader` on the input as a file, inside a failure recording (whose chain is formatted, as
// the player shows it). A failed read must leave the slot empty; a read that succeeds must leave
// a `Record`, which `check` then looks at. Nothing may stay allocated either way (LeakSanitizer).
template <class Record, class Check>
void ReadFromMemory(FileReader reader, const std::uint8_t* data, std::size_t size, Check check) {
  static MemoryFile file;
  file.Replace(data, size);
  const platform::StopWord stop;
  dsp::BufferSlot slot;
  Result result = kOk;
  {
    const platform::FailureRecording recording(&stop);
    result = reader(file.Path(), slot, stop);
    const std::string text = platform::FormatFailureChain(platform::TakeFailureChain());
    if (result != kOk && text.empty()) Fail("a failed read noted no failure");
  }
  if (result != kOk) {
    if (!slot.Empty()) Fail("a failed read left a record in the slot");
    return;
  }
  const Record* record = slot.Get<Record>();
  if (record == nullptr) Fail("a read that succeeded left no record of its kind");
  check(*record, size);
}

}  // namespace lumaro::fuzz
