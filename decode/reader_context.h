#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "dsp/buffer_slot.h"
#include "dsp/guarded_alloc.h"
#include "platform/os.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// Destroys a working record made by NewContext and gives its block back.
template <class Context>
struct ContextDeleter {
  void operator()(Context* context) const noexcept {
    context->~Context();
    dsp::GuardedFree(context);
  }
};

template <class Context>
using ContextPtr = std::unique_ptr<Context, ContextDeleter<Context>>;

// A reader's or writer's working record and `scratchBytes` of scratch area behind it, taken as
// one request from the memory guard. The record is value-initialised (zero-filled); the scratch
// is left untouched so that pages it never uses are never made resident. nullptr when refused.
template <class Context>
ContextPtr<Context> NewContext(std::uint64_t scratchBytes) noexcept {
  void* block = dsp::GuardedAlloc(sizeof(Context) + scratchBytes);
  if (block == nullptr) return nullptr;
  return ContextPtr<Context>(new (block) Context{});
}

// The scratch area behind a record made by NewContext.
template <class Context>
unsigned char* ScratchOf(Context& context) noexcept {
  return reinterpret_cast<unsigned char*>(&context + 1);
}

// Sample data is read in blocks of this size (10 MiB). The fuzz build reads in 64 KiB blocks: its
// inputs of a few kilobytes then cross block boundaries, and a call does not pay for 10 MiB of
// fresh memory that the sanitizer shadows and the input never fills.
#ifdef LUMARO_FUZZ_BUILD
inline constexpr std::uint64_t kReadBlockBytes = 65536;
#else
inline constexpr std::uint64_t kReadBlockBytes = 10485760;
#endif

// The frame every built-in reader runs in: the slot emptied, a working record with a read block
// behind it, the file opened exclusively into `context.file`, `readOpen(context)`, and the
// record's `buffer` put into the slot only when the whole read succeeded. `errContext` and
// `errOpen` are the reader's own codes for a refused record and a file that cannot be opened.
template <class Context, class ReadOpen>
Result ReadFileWith(std::u16string_view path, dsp::BufferSlot& slot, const platform::StopWord& stop,
                    Result errContext, Result errOpen, ReadOpen&& readOpen) {
  slot.Clear();
  const ContextPtr<Context> c = NewContext<Context>(kReadBlockBytes);
  if (!c) return errContext;
  c->stop = &stop;
  c->file = platform::File::Open(path, platform::OpenMode::kReadExclusive);
  if (!c->file) return errOpen;
  const Result result = readOpen(*c);
  if (result == kOk) slot.Put(std::move(c->buffer));
  return result;
}

}  // namespace lumaro::decode
