#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace lumaro::platform {

// The decoders a build of the player can carry as the platform's own; the core shows each one's
// progress text.
enum class SystemDecoderKind { kMediaFoundation, kLibsndfile };

// The platform's own decoder over one file: any format the platform can decode, delivered as
// interleaved floats of one width for the whole stream. The file is closed when the object goes.
//
// Thread contract: one thread at a time (the playback thread). No call throws.
class SystemDecoder {
 public:
  // Sample widths Bits() can answer.
  static constexpr unsigned kFloatBits = 32;   // the file's own samples are 32-bit float
  static constexpr unsigned kDoubleBits = 64;  // every other file

  // The decoder this build carries.
  [[nodiscard]] static SystemDecoderKind Kind() noexcept;

  // Opens `path` for decoding. Failure answer: nullptr (missing file, a path that is not valid
  // text, a format the platform does not know, no audio in it).
  [[nodiscard]] static std::unique_ptr<SystemDecoder> Open(std::u16string_view path) noexcept;

  virtual ~SystemDecoder() = default;

  // The stream's channel count and sample rate as the file gives them (not checked: may be 0).
  [[nodiscard]] virtual unsigned Channels() const noexcept = 0;
  [[nodiscard]] virtual std::uint32_t SampleRate() const noexcept = 0;
  // The width of the samples Read delivers: kFloatBits (float) or kDoubleBits (double).
  [[nodiscard]] virtual unsigned Bits() const noexcept = 0;

  // Decodes up to `frames` frames of Channels() interleaved samples of Bits() width into `out`,
  // which must hold that many. Answers the frames decoded, 0 at the end of the stream, -1 when
  // decoding failed.
  virtual std::int64_t Read(void* out, std::uint64_t frames) noexcept = 0;
};

}  // namespace lumaro::platform
