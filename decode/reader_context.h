#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "dsp/guarded_alloc.h"

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

// Sample data is read in blocks of this size (10 MiB).
inline constexpr std::uint64_t kReadBlockBytes = 10485760;

}  // namespace lumaro::decode
