#include "dsp/pcm_to_float.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/parallel_for.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNotPcm = FirstCode(FailureSite::kPcmToFloat),
  kErrFormat,
  kErrChannels,
  kErrBits,
  kErrRate,
  kErrZeroFrames,
  kErrNoConversion,
  kErrNoMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kPcmToFloat,
    kErrNoMemory,
    {"pcm-to-float without a PCM record", "pcm-to-float sample format",
     "pcm-to-float channel count", "pcm-to-float width", "pcm-to-float sample rate",
     "pcm-to-float without frames", "pcm-to-float conversion unknown", "pcm-to-float output"}};

// An integer sample placed in the top bits of a signed 32-bit word, times this, is full scale 1.0.
constexpr double kInt32Scale = 1.0 / 2147483648.0;  // 2^-31
constexpr int kUnsigned8Zero = 128;
constexpr std::uint32_t kTopThreeBytes = 0xFFFFFF00U;
// Frames converted between two looks at the stop word: a few microseconds of work.
constexpr std::uint64_t kRunFrames = 4096;

double Finite(double value) { return std::isfinite(value) ? value : 0.0; }

template <class Sample>
Sample LoadLe(const unsigned char* p) {
  Sample value;
  std::memcpy(&value, p, sizeof value);  // the hosts we build for are little-endian
  return value;
}

// Converts one sample of a layout; `p` points at its first byte.
template <std::uint16_t Format, unsigned Bits>
double ConvertSample(const unsigned char* p) {
  if constexpr (Format == kPcmInteger && Bits == 8) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0] - kUnsigned8Zero) << 24) *
           kInt32Scale;
  } else if constexpr (Format == kPcmInteger && Bits == 16) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(LoadLe<std::uint16_t>(p)) << 16) *
           kInt32Scale;
  } else if constexpr (Format == kPcmInteger && Bits == 24) {
    // The sample's three bytes are the top of the little-endian word that starts one byte
    // earlier: one load instead of three. That byte is always there, the record's lead-in (or the
    // sample before) lies in front of every sample.
    const std::uint32_t word = LoadLe<std::uint32_t>(p - 1) & kTopThreeBytes;
    return static_cast<std::int32_t>(word) * kInt32Scale;
  } else if constexpr (Format == kPcmInteger && Bits == 32) {
    return LoadLe<std::int32_t>(p) * kInt32Scale;
  } else if constexpr (Format == kPcmFloat && Bits == 32) {
    return Finite(static_cast<double>(LoadLe<float>(p)));
  } else {
    static_assert(Format == kPcmFloat && Bits == 64);
    return Finite(LoadLe<double>(p));
  }
}

template <std::uint16_t Format, unsigned Bits, unsigned Channels>
void ConvertRun(const unsigned char* source, double* out, std::uint64_t frames) {
  constexpr unsigned kBytes = Bits / 8;
  for (std::uint64_t i = 0; i < frames; ++i) {
    const double left = ConvertSample<Format, Bits>(source);
    const double right = Channels == 1 ? left : ConvertSample<Format, Bits>(source + kBytes);
    out[0] = left;
    out[1] = right;
    source += kBytes * Channels;
    out += 2;
  }
}

template <std::uint16_t Format, unsigned Bits>
void ConvertLayout(unsigned channels, const unsigned char* source, double* out,
                   std::uint64_t frames) {
  if (channels == 1) {
    ConvertRun<Format, Bits, 1>(source, out, frames);
  } else {
    ConvertRun<Format, Bits, 2>(source, out, frames);
  }
}

bool HasConversion(const PcmBuffer& pcm) {
  if (pcm.sampleFormat == kPcmInteger) {
    return pcm.bits == 8 || pcm.bits == 16 || pcm.bits == 24 || pcm.bits == 32;
  }
  return pcm.bits == 32 || pcm.bits == 64;
}

Result CheckHeader(const PcmBuffer& pcm) {
  if (pcm.sampleFormat != kPcmInteger && pcm.sampleFormat != kPcmFloat)
    return kFailures.Note(kErrFormat);
  if (pcm.channels != 1 && pcm.channels != 2) return kFailures.Note(kErrChannels);
  if (pcm.bits != 8 && pcm.bits != 16 && pcm.bits != 24 && pcm.bits != 32 && pcm.bits != 64) {
    return kFailures.Note(kErrBits);
  }
  if (pcm.sampleRate < kMinSampleRate) return kFailures.Note(kErrRate);
  if (pcm.frameCount == 0) return kFailures.Note(kErrZeroFrames);
  if (!HasConversion(pcm)) return kFailures.Note(kErrNoConversion);
  return kOk;
}

// Converts `frames` frames of `source` (packed frames of `pcm`'s layout, inside the record, so
// that the byte before each sample can be read) to stereo float at `out`.
void ConvertPcmFrames(const PcmBuffer& pcm, const unsigned char* source, double* out,
                      std::uint64_t frames) noexcept {
  const unsigned channels = pcm.channels;
  if (pcm.sampleFormat == kPcmFloat) {
    if (pcm.bits == 32) return ConvertLayout<kPcmFloat, 32>(channels, source, out, frames);
    return ConvertLayout<kPcmFloat, 64>(channels, source, out, frames);
  }
  switch (pcm.bits) {
    case 8:
      return ConvertLayout<kPcmInteger, 8>(channels, source, out, frames);
    case 16:
      return ConvertLayout<kPcmInteger, 16>(channels, source, out, frames);
    case 24:
      return ConvertLayout<kPcmInteger, 24>(channels, source, out, frames);
    default:
      return ConvertLayout<kPcmInteger, 32>(channels, source, out, frames);
  }
}

}  // namespace

Result PcmToFloat(BufferSlot& slot, const platform::StopWord& stop) {
  // Step 0: the source leaves the slot and is freed when this scope ends, whatever happens.
  PcmBufferPtr pcm = slot.TakeAs<PcmBuffer>();
  if (!pcm) return kFailures.Note(kErrNotPcm);

  // Step 1: header checks and the new record. Stereo 64-bit float samples lie where the
  // AudioBuffer's would (the same header size and lead-in), so that record becomes the
  // AudioBuffer in place and the pass below converts each sample where it is: the bytes of a new
  // record, without a second block.
  if (const Result checked = CheckHeader(*pcm); checked != kOk) return checked;
  static_assert(sizeof(PcmBuffer) == sizeof(AudioBuffer) && kPcmLeadIn == 48);
  const PcmBuffer layout = *pcm;  // kept: a conversion in place writes over the header
  const unsigned char* source = pcm->Data();
  AudioBufferPtr audio;
  if (layout.sampleFormat == kPcmFloat && layout.bits == 64 && layout.channels == 2 &&
      layout.leadIn == kPcmLeadIn) {
    audio = AudioBufferInBlock(pcm.release(), layout.sampleRate, layout.frameCount, kPcmLeadIn);
  } else if (NewAudioBufferToOverwrite(audio, layout.sampleRate, layout.frameCount, kPcmLeadIn) !=
             kOk) {
    return kFailures.Note(kErrNoMemory);
  }

  // Step 2: one pass, each worker converting its slice in runs between looks at the stop word.
  const std::uint64_t frameBytes = layout.BytesPerFrame();
  const Result converted = ParallelFor(layout.frameCount, stop, [&](unsigned, Slice slice) {
    for (std::uint64_t done = 0; done < slice.count; done += kRunFrames) {
      if (stop.Load() != 0) return;
      const std::uint64_t first = slice.first + done;
      const std::uint64_t run = std::min(kRunFrames, slice.count - done);
      ConvertPcmFrames(layout, source + first * frameBytes,
                       audio->Frame(static_cast<std::int64_t>(first)), run);
    }
  });
  if (converted != kOk) return converted;
  slot.Put(std::move(audio));
  return kOk;
}

}  // namespace lumaro::dsp
