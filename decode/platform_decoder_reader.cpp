#include "decode/platform_decoder_reader.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <type_traits>

#include "dsp/guarded_alloc.h"
#include "dsp/paged_buffer.h"
#include "platform/failure.h"
#include "platform/system_decoder.h"
#include "resources/status_texts.h"

namespace lumaro::decode {
namespace {

using platform::SampleForm;
using platform::SystemDecoder;

enum : Result {
  kErrStore = FirstCode(FailureSite::kPlatformDecoderReader),
  kErrOpen,
  kErrChannels,
  kErrForm,
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
     "platform decoder reports no channels", "platform decoder sample form unknown",
     "platform decoder sample rate too low", "no memory for a decoded piece",
     "platform decoder failed", "decoded stream store refused bytes", "platform decoder stopped",
     "platform decoder delivered no frames", "platform decoder audio buffer refused",
     "decoded stream shorter than its frames"}};

// Lead-in of the AudioBuffer made here.
constexpr std::uint64_t kLeadIn = 48;
// Decoding and converting go through one block of this size (64 Ki frames of 64-bit stereo):
// large enough that the decoder's and the store's per-call costs vanish, small enough to pass
// the memory guard without a look at the memory status. The fuzz build takes 64 KiB: the system
// decoder clears what a short read leaves of the piece, and its inputs are kilobytes.
#ifdef LUMARO_FUZZ_BUILD
constexpr std::uint64_t kPieceBytes = 0x10000;
#else
constexpr std::uint64_t kPieceBytes = 0x100000;
#endif
// The float widths reported for the decoded stream: the file's own 32-bit floats, or the 64-bit
// floats everything else becomes.
constexpr std::uint32_t kFloatBits = 32;
constexpr std::uint32_t kDoubleBits = 64;
// An integer form's word times this is full scale 1.0.
constexpr double kInt16Scale = 1.0 / 32768.0;       // 2^-15
constexpr double kInt32Scale = 1.0 / 2147483648.0;  // 2^-31

// One block of the memory guard, given back on every path.
struct GuardedDeleter {
  void operator()(void* block) const noexcept { dsp::GuardedFree(block); }
};
using GuardedBlock = std::unique_ptr<void, GuardedDeleter>;

// What the decoder delivers, checked before anything is decoded.
struct StreamFormat {
  unsigned channels;
  SampleForm form;
  std::uint32_t rate;
  std::uint32_t bits;  // the float width reported
  std::uint64_t frameBytes;
  std::uint64_t pieceFrames;  // frames per decoded piece or converted run (at least 1)
};

// Bytes per sample of a form; 0 for a form this reader does not know.
unsigned SampleBytes(SampleForm form) {
  switch (form) {
    case SampleForm::kInt16:
      return 2;
    case SampleForm::kInt32:
    case SampleForm::kFloat32:
      return 4;
    case SampleForm::kFloat64:
      return 8;
  }
  return 0;
}

// Channels nonzero, a known sample form, rate at least 8000.
Result CheckFormat(const SystemDecoder& decoder, StreamFormat* format) {
  format->channels = decoder.Channels();
  format->form = decoder.Form();
  format->rate = decoder.SampleRate();
  if (format->channels == 0) return kErrChannels;
  const unsigned sampleBytes = SampleBytes(format->form);
  if (sampleBytes == 0) return kErrForm;
  if (format->rate < dsp::kMinSampleRate) return kErrRate;
  format->bits = format->form == SampleForm::kFloat32 ? kFloatBits : kDoubleBits;
  format->frameBytes = std::uint64_t{format->channels} * sampleBytes;
  if (format->frameBytes > kPieceBytes) return kErrChannels;  // a frame must fit in a piece
  format->pieceFrames = kPieceBytes / format->frameBytes;
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

// One sample of a form as a double at full scale 1.0; non-finite floats become 0.0.
template <SampleForm Form>
double ToDouble(const void* run, std::uint64_t index) {
  if constexpr (Form == SampleForm::kInt16) {
    return static_cast<const std::int16_t*>(run)[index] * kInt16Scale;
  } else if constexpr (Form == SampleForm::kInt32) {
    return static_cast<const std::int32_t*>(run)[index] * kInt32Scale;
  } else {
    using Float = std::conditional_t<Form == SampleForm::kFloat32, float, double>;
    const double value = static_cast<const Float*>(run)[index];
    return std::isfinite(value) ? value : 0.0;
  }
}

// One run of interleaved frames to left/right pairs: the first channel, the second or the first
// again for mono; further channels skipped. Stereo, the common case, gets a loop of its own with a
// constant stride.
template <SampleForm Form, bool Stereo>
void ConvertFrames(const void* run, unsigned channels, double* out, std::uint64_t frames) {
  const std::uint64_t stride = Stereo ? 2 : channels;
  const std::uint64_t right = Stereo || channels > 1 ? 1 : 0;
  for (std::uint64_t i = 0; i < frames; ++i) {
    out[2 * i] = ToDouble<Form>(run, i * stride);
    out[2 * i + 1] = ToDouble<Form>(run, i * stride + right);
  }
}

template <SampleForm Form>
void ConvertRun(const void* run, unsigned channels, double* out, std::uint64_t frames) {
  if (channels == 2) return ConvertFrames<Form, true>(run, channels, out, frames);
  ConvertFrames<Form, false>(run, channels, out, frames);
}

void ConvertRun(SampleForm form, const void* run, unsigned channels, double* out,
                std::uint64_t frames) {
  switch (form) {
    case SampleForm::kInt16:
      return ConvertRun<SampleForm::kInt16>(run, channels, out, frames);
    case SampleForm::kInt32:
      return ConvertRun<SampleForm::kInt32>(run, channels, out, frames);
    case SampleForm::kFloat32:
      return ConvertRun<SampleForm::kFloat32>(run, channels, out, frames);
    case SampleForm::kFloat64:
      return ConvertRun<SampleForm::kFloat64>(run, channels, out, frames);
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
    ConvertRun(format.form, piece, format.channels, out, frames);
    out += 2 * frames;
    done += frames;
  }
  return kOk;
}

// Opens the decoder and checks what it delivers, collects the whole stream, then makes the buffer
// at its exact size and fills it. The store holds the decoder's own sample form, so a 16-bit
// track takes a quarter of the room (and of the first-touch cost) that doubles would.
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
  if (dsp::NewAudioBufferToOverwrite(audio, format.rate, frames, kLeadIn) != kOk) {
    return kErrBuffer;
  }
  if (const Result converted = Convert(*store, format, piece.get(), *audio, stop);
      converted != kOk) {
    return converted;
  }
  *bits = format.bits;
  return kOk;
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
