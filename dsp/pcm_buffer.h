#pragma once

#include <cstdint>

#include "dsp/record_ptr.h"
#include "platform/result.h"

namespace lumaro::dsp {

// Integer or float samples exactly as a reader decoded them, and also the bytes made for a
// device (there `bits` is the container width). One heap block: this header, then
// (leadIn + frameCount + leadIn) interleaved little-endian frames of channels × bits / 8 bytes.
struct PcmBuffer {
  std::uint16_t sampleFormat;  // kPcmInteger or kPcmFloat
  std::uint8_t channels;       // 1 or 2
  std::uint8_t bits;           // 8, 16, 24, 32 or 64
  std::uint32_t sampleRate;
  std::uint64_t frameCount;
  std::uint64_t leadIn;  // always kPcmLeadIn

  unsigned char* Samples() noexcept { return reinterpret_cast<unsigned char*>(this + 1); }
  const unsigned char* Samples() const noexcept {
    return reinterpret_cast<const unsigned char*>(this + 1);
  }
  // Bytes per frame, kept to 8 bits as the header's derived value is.
  std::uint8_t BytesPerFrame() const noexcept {
    return static_cast<std::uint8_t>((channels * bits) / 8);
  }
  std::uint64_t DataSize() const noexcept { return BytesPerFrame() * frameCount; }
  // Address of real frame 0.
  unsigned char* Data() noexcept { return Samples() + leadIn * BytesPerFrame(); }
  const unsigned char* Data() const noexcept { return Samples() + leadIn * BytesPerFrame(); }
};
static_assert(sizeof(PcmBuffer) == 24);

using PcmBufferPtr = RecordPtr<PcmBuffer>;

inline constexpr std::uint16_t kPcmInteger = 1;
inline constexpr std::uint16_t kPcmFloat = 3;
inline constexpr std::uint64_t kPcmLeadIn = 48;

// Makes a zeroed PcmBuffer with lead-in 48 in `out` (nullptr on failure). Fails unless the
// format is 1 or 3, channels 1 or 2, bits 8/16/24/32/64, rate at least 8000, and the block size
// fits in 64 bits and is at most 0x7FFFFFFFFFFFFFFF, or when the memory guard refuses it.
[[nodiscard]] Result NewPcmBuffer(PcmBufferPtr& out, std::uint16_t sampleFormat,
                                  std::uint8_t channels, std::uint8_t bits,
                                  std::uint32_t sampleRate, std::uint64_t frames) noexcept;

// As NewPcmBuffer, for a caller that writes every real frame itself: only the header and the
// lead-in frames are zeroed, so the real frames' memory is touched once, by the caller's writes.
// Once the caller has written them the buffer equals NewPcmBuffer's, byte for byte.
[[nodiscard]] Result NewPcmBufferToOverwrite(PcmBufferPtr& out, std::uint16_t sampleFormat,
                                             std::uint8_t channels, std::uint8_t bits,
                                             std::uint32_t sampleRate,
                                             std::uint64_t frames) noexcept;

// The answer NewPcmBuffer would give, with its failures noted as it notes them, without taking
// the block: for a stage that makes the record in a block it already holds but keeps a new
// record's claim on the system's memory. Any thread.
[[nodiscard]] Result PcmBufferAllowed(std::uint16_t sampleFormat, std::uint8_t channels,
                                      std::uint8_t bits, std::uint32_t sampleRate,
                                      std::uint64_t frames) noexcept;

// Header + (frames + 2 × 48) × frame bytes, or 0 when that is above 0x7FFFFFFFFFFFFFFF.
[[nodiscard]] std::uint64_t PcmBufferBytes(std::uint8_t channels, std::uint8_t bits,
                                           std::uint64_t frames) noexcept;

// Takes over `block`, a GuardedAlloc block of at least PcmBufferBytes, as a PcmBuffer of a layout
// NewPcmBuffer accepts: the header is written and the lead-ins zeroed as NewPcmBufferToOverwrite
// does; the bytes where the real frames lie are kept as they are. Cannot fail. Any thread.
[[nodiscard]] PcmBufferPtr PcmBufferInBlock(void* block, std::uint16_t sampleFormat,
                                            std::uint8_t channels, std::uint8_t bits,
                                            std::uint32_t sampleRate,
                                            std::uint64_t frames) noexcept;

}  // namespace lumaro::dsp
