#pragma once

#include <cstdint>

// The wider vector unit some kernels choose at run time. A kernel built for it must give the
// baseline build's bits: the same IEEE operations on each value in the same order (no fused
// multiply-add), or conversions that are exact. It is used where GCC or Clang builds for x86-64,
// but not on Windows, where GCC does not align the stack for the 32-byte values a kernel may
// spill.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#include <immintrin.h>
#define LUMARO_AVX2_KERNELS 1
// Marks a function built for AVX2; it may only run when HasAvx2() is true.
#define LUMARO_AVX2 __attribute__((target("avx2")))

namespace lumaro::dsp {

// True when the processor has AVX2 (asked once). Any thread.
inline bool HasAvx2() noexcept {
  static const bool has = __builtin_cpu_supports("avx2") != 0;
  return has;
}

}  // namespace lumaro::dsp
#endif

namespace lumaro::dsp {

// How far ahead of its reads a streaming kernel asks for its input: 8 KiB.
inline constexpr std::uint64_t kPrefetchBytes = 8192;
inline constexpr std::uint64_t kCacheLineBytes = 64;

// Asks for the `bytes` from `at` + kPrefetchBytes on, one cache line at a time: a kernel that reads
// its input in order calls it once per step with the bytes it advances by. The processor's own
// prefetch does not always keep up (it halved the decimation filter's speed on the virtual
// development machine). Only a hint: addresses past the input are never read. Any thread.
inline void PrefetchAhead(const void* at, std::uint64_t bytes) noexcept {
  // An address, not a pointer: it may lie past the end of the block.
  const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(at) + kPrefetchBytes;
  for (std::uint64_t line = 0; line < bytes; line += kCacheLineBytes) {
    __builtin_prefetch(reinterpret_cast<const void*>(ahead + line));
  }
}

}  // namespace lumaro::dsp
