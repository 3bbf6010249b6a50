#pragma once

#include <cstdint>

#include "dsp/record_ptr.h"
#include "platform/result.h"

namespace lumaro::dsp {

// 1-bit data of two channels. One heap block: this header, then (leadIn + length + leadIn) byte
// pairs {left, right}; each byte holds eight one-bit samples, the earliest in bit 0.
struct DsdBuffer {
  std::uint32_t dsdRate;  // one of kDsdRates: bits per second per channel
  std::uint64_t length;   // bytes per channel
  std::uint64_t leadIn;   // always kDsdLeadIn

  unsigned char* Samples() noexcept { return reinterpret_cast<unsigned char*>(this + 1); }
  const unsigned char* Samples() const noexcept {
    return reinterpret_cast<const unsigned char*>(this + 1);
  }
  // Address of the first real byte pair.
  unsigned char* Data() noexcept { return Samples() + 2 * leadIn; }
  const unsigned char* Data() const noexcept { return Samples() + 2 * leadIn; }
};

using DsdBufferPtr = RecordPtr<DsdBuffer>;

inline constexpr std::uint32_t kDsdRates[] = {2822400, 5644800, 11289600, 22579200};
inline constexpr std::uint64_t kDsdLeadIn = 128;
// Two one-bits, two zero-bits, two one-bits, two zero-bits: a byte whose mean is zero, so a
// DSD stream of it is silence.
inline constexpr unsigned char kDsdSilence = 0xCC;

// True for the four DSD rates (64, 128, 256 and 512 times 44100).
bool IsDsdRate(std::uint32_t rate) noexcept;

// Makes a DsdBuffer in `out` (nullptr on failure) whose whole sample area, lead-in included,
// holds kDsdSilence. Fails for any other rate, or a block size that does not fit in 64 bits or
// exceeds 0x7FFFFFFFFFFFFFFF, or when the memory guard refuses it.
[[nodiscard]] Result NewDsdBuffer(DsdBufferPtr& out, std::uint32_t dsdRate,
                                  std::uint64_t length) noexcept;

// As NewDsdBuffer, for a caller that writes every data byte itself (or drops the record): only
// the lead-ins hold kDsdSilence, so the data's memory is first touched by the caller's writes.
// Once the caller has written them the buffer equals NewDsdBuffer's, byte for byte.
[[nodiscard]] Result NewDsdBufferToOverwrite(DsdBufferPtr& out, std::uint32_t dsdRate,
                                             std::uint64_t length) noexcept;

}  // namespace lumaro::dsp
