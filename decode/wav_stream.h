#pragma once

#include <cstdint>
#include <span>

#include "dsp/paged_buffer.h"
#include "platform/result.h"

namespace lumaro::decode {

// The stream a converting program writes to a pipe: a RIFF/WAVE stream of 64-bit float stereo
// samples whose sizes could not be filled in, so the samples run from the "data" chunk's body to
// the end of the stream whatever its size fields say.

// Bytes of a stream by offset. One thread at a time.
class StreamBytes {
 public:
  virtual ~StreamBytes() = default;
  virtual std::uint64_t Length() const = 0;
  // Copies `count` bytes from `offset`; false when they run past the end.
  [[nodiscard]] virtual bool ReadAt(std::uint64_t offset, void* out, std::uint64_t count) = 0;
};

// A stream held in one block.
class SpanBytes final : public StreamBytes {
 public:
  explicit SpanBytes(std::span<const unsigned char> bytes) : bytes_(bytes) {}
  std::uint64_t Length() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, void* out, std::uint64_t count) override;

 private:
  std::span<const unsigned char> bytes_;
};

// A stream collected in a PagedBuffer (its position moves).
class PagedBytes final : public StreamBytes {
 public:
  explicit PagedBytes(dsp::PagedBuffer& store) : store_(store) {}
  std::uint64_t Length() const override { return store_.Length(); }
  bool ReadAt(std::uint64_t offset, void* out, std::uint64_t count) override;

 private:
  dsp::PagedBuffer& store_;
};

// Where the samples lie: `frames` whole stereo frames of two little-endian doubles from
// `dataOffset`.
struct FloatWavStream {
  std::uint32_t sampleRate = 0;
  std::uint64_t dataOffset = 0;
  std::uint64_t frames = 0;
};

// Checks the stream's header (the format chunk first, plain float or extensible 64-bit layout,
// two channels, 16-byte frames, a rate of 8000 or more), walks its chunks to "data" (a trailing
// odd value is dropped; fewer than two values fail) and answers where the samples are. A pure
// function of the bytes. Failure answer: nonzero, `out` untouched.
[[nodiscard]] Result ParseFloatWavStream(StreamBytes& bytes, FloatWavStream* out);

}  // namespace lumaro::decode
