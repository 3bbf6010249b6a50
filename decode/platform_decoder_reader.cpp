#include "decode/platform_decoder_reader.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "dsp/guarded_alloc.h"
#include "dsp/paged_buffer.h"
#include "platform/failure.h"
#include "platform/system_decoder.h"
#include "resources/status_texts.h"

namespace lumaro::decode {
namespace {

using platform::SystemDecoder;

enum : Result {
  kErrStore = FirstCode(FailureSite::kPlatformDecoderReader),
  kErrOpen,
  kErrChannels,
  kErrWidth,
  kErrRate,
  kErrPiece,
  kErrDecode,
  kErrStoreFull,
  kErrStopped,
  kErrNoFrames,
  kErrBuffer,
  kErrShortStore,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kPlatformDecoderReader,
    kErrShortStore,
    {"no memory for the decoded stream", "platform decoder cannot open the file",
     "platform decoder reports no channels", "platform decoder width not 32 or 64",
     "platform decoder sample rate too low", "no memory for a decoded piece",
     "platform decoder failed", "decoded stream store refused bytes", "platform decoder stopped",
     "platform decoder delivered no frames", "platform decoder audio buffer refused",
     "decoded stream shorter than its frames"}};

// Lead-in of the AudioBuffer made here.
constexpr std::uint64_t kLeadIn = 48;
// Decoding and converting go through one block of this size: 64 Ki frames of 64-bit stereo,
// large enough that the decoder's and the store's per-call costs vanish, small enough to pass
// the memory guard without a look at the memory status.
constexpr std::uint64_t kPieceBytes = 0x100000;

// One block of the memory guard, given back on every path.
struct GuardedDeleter {
  void operator()(void* block) const noexcept { dsp::GuardedFree(block); }
};
using GuardedBlock = std::unique_ptr<void, GuardedDeleter>;

// What the decoder delivers, checked before anything is decoded.
struct StreamFormat {
  unsigned channels;
  unsigned bits;
  std::uint32_t rate;
  std::uint64_t frameBytes;
  std::uint64_t pieceFrames;  // frames per decoded piece or converted run (at least 1)
};

// Channels nonzero, width 32 or 64, rate at least 8000.
Result CheckFormat(const SystemDecoder& decoder, StreamFormat* format) {
  format->channels = decoder.Channels();
  format->bits = decoder.Bits();
  format->rate = decoder.SampleRate();
  if (format->channels == 0) return kErrChannels;
  if (format->bits != SystemDecoder::kFloatBits && format->bits != SystemDecoder::kDoubleBits) {
    return kErrWidth;
  }
  if (format->rate < dsp::kMinSampleRate) return kErrRate;
  format->frameBytes = std::uint64_t{format->channels} * (format->bits / 8);
  format->pieceFrames = std::max<std::uint64_t>(1, kPieceBytes / format->frameBytes);
  return kOk;
}

// The whole decoded stream into `store`, piece by piece; a stop is looked for after every piece.
Result Collect(SystemDecoder& decoder, const StreamFormat& format, void* piece,
               dsp::PagedBuffer& store, const platform::StopWord& stop) {
  for (;;) {
    const std::int64_t frames = decoder.Read(piece, format.pieceFrames);
    if (frames < 0) return kErrDecode;
    if (stop.Load() != 0) return kErrStopped;
    if (frames == 0) return kOk;
    const std::uint64_t bytes = static_cast<std::uint64_t>(frames) * format.frameBytes;
    if (store.Append(piece, bytes) != bytes) return kErrStoreFull;
  }
}

double Finite(double value) { return std::isfinite(value) ? value : 0.0; }

// One run of interleaved frames to left/right pairs: the first channel, the second or the first
// again for mono; further channels skipped.
template <class Sample>
void ConvertRun(const Sample* in, unsigned channels, double* out, std::uint64_t frames) {
  const unsigned right = channels > 1 ? 1 : 0;
  for (std::uint64_t i = 0; i < frames; ++i) {
    out[0] = Finite(static_cast<double>(in[0]));
    out[1] = Finite(static_cast<double>(in[right]));
    in += channels;
    out += 2;
  }
}

// The collected stream into the buffer's frames, run by run; a stop is looked for before each.
Result Convert(dsp::PagedBuffer& store, const StreamFormat& format, void* piece,
               dsp::AudioBuffer& audio, const platform::StopWord& stop) {
  if (!store.SetPosition(0)) return kErrShortStore;
  double* out = audio.Frame(0);
  for (std::uint64_t done = 0; done < audio.frameCount;) {
    if (stop.Load() != 0) return kErrStopped;
    const std::uint64_t frames = std::min(format.pieceFrames, audio.frameCount - done);
    const std::uint64_t bytes = frames * format.frameBytes;
    if (store.Read(piece, bytes) != bytes) return kErrShortStore;
    if (format.bits == SystemDecoder::kFloatBits) {
      ConvertRun(static_cast<const float*>(piece), format.channels, out, frames);
    } else {
      ConvertRun(static_cast<const double*>(piece), format.channels, out, frames);
    }
    out += 2 * frames;
    done += frames;
  }
  return kOk;
}

// Open the decoder, collect its stream, then make the buffer at its exact size and fill it.
Result Read(std::u16string_view path, dsp::AudioBufferPtr& audio, std::uint32_t* bits,
            const platform::StopWord& stop) {
  const std::unique_ptr<dsp::PagedBuffer> store = dsp::PagedBuffer::Create();
  if (!store) return kErrStore;
  const std::unique_ptr<SystemDecoder> decoder = SystemDecoder::Open(path);
  if (!decoder) return kErrOpen;
  StreamFormat format{};
  if (const Result checked = CheckFormat(*decoder, &format); checked != kOk) return checked;
  const GuardedBlock piece(dsp::GuardedAlloc(kPieceBytes));
  if (!piece) return kErrPiece;
  if (const Result collected = Collect(*decoder, format, piece.get(), *store, stop);
      collected != kOk) {
    return collected;
  }
  const std::uint64_t frames = store->Length() / format.frameBytes;
  if (frames == 0) return kErrNoFrames;
  if (dsp::NewAudioBuffer(audio, format.rate, frames, kLeadIn) != kOk) return kErrBuffer;
  *bits = format.bits;
  return Convert(*store, format, piece.get(), *audio, stop);
}

}  // namespace

Result ReadWithPlatformDecoder(std::u16string_view path, dsp::BufferSlot& slot, std::uint32_t* bits,
                               const platform::StopWord& stop) {
  slot.Clear();
  dsp::AudioBufferPtr audio;
  if (const Result read = Read(path, audio, bits, stop); read != kOk) {
    return kFailures.Note(read, path);
  }
  slot.Put(std::move(audio));
  return kOk;
}

std::u16string_view PlatformDecoderStatus() noexcept {
  switch (SystemDecoder::Kind()) {
    case platform::SystemDecoderKind::kMediaFoundation:
      return resources::kStatusReadingMediaFoundation;
    case platform::SystemDecoderKind::kLibsndfile:
      return resources::kStatusReadingLibsndfile;
  }
  return resources::kStatusReadingLibsndfile;
}

}  // namespace lumaro::decode
