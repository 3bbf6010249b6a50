#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace lumaro::platform {

// The decoders a build of the player can carry as the platform's own; the core shows each one's
// progress text.
enum class SystemDecoderKind { kMediaFoundation, kLibsndfile };

// How Read delivers samples: the narrowest form that holds the file's own samples exactly, so a
// whole track held in memory before conversion takes no more room than it must. Integers sit in
// the top bits of their word, so an integer form times 2^-15 or 2^-31 is the sample at full scale
// 1.0 whatever the file's width.
enum class SampleForm {
  kInt16,    // integer samples of up to 16 bits
  kInt32,    // integer samples of 17 to 32 bits
  kFloat32,  // 32-bit float samples, as stored
  kFloat64,  // everything else, decoded to 64-bit float at full scale 1.0
};

// The platform's own decoder over one file: any format the platform can decode, delivered as
// interleaved samples of one form for the whole stream. The file is closed when the object goes.
//
// Thread contract: Open, every call and the destruction on one thread (the playback thread), as
// a decoder may hold per-thread state of the system from Open until it goes. No call throws.
class SystemDecoder {
 public:
  // The decoder this build carries.
  [[nodiscard]] static SystemDecoderKind Kind() noexcept;

  // Opens `path` for decoding. Failure answer: nullptr (missing file, a path that is not valid
  // text, a format the platform does not know, no audio in it).
  [[nodiscard]] static std::unique_ptr<SystemDecoder> Open(std::u16string_view path) noexcept;

  virtual ~SystemDecoder() = default;

  // The stream's channel count and sample rate as the file gives them (not checked: may be 0).
  [[nodiscard]] virtual unsigned Channels() const noexcept = 0;
  [[nodiscard]] virtual std::uint32_t SampleRate() const noexcept = 0;
  [[nodiscard]] virtual SampleForm Form() const noexcept = 0;

  // Decodes up to `frames` frames of Channels() interleaved samples of Form() into `out`, which
  // must hold that many. Answers the frames decoded, 0 at the end of the stream, -1 when decoding
  // failed.
  virtual std::int64_t Read(void* out, std::uint64_t frames) noexcept = 0;
};

}  // namespace lumaro::platform
