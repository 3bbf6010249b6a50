// The cache writers' round trip: a record made from the input (the first bytes pick the rate and
// lead-in, the rest are the samples, any bit pattern) is written by each writer and read back
// by the reader the player uses for that file; the same format and samples must come back.
// WAV: ReadWav (a 64-bit float PcmBuffer, bit for bit). Wave64: the platform decoder (an
// AudioBuffer; non-finite values become 0.0). DSDIFF: ReadDsdiff (the same DsdBuffer bytes).
#include <cmath>
#include <cstring>

#include "decode/cache_writers.h"
#include "decode/dsdiff_reader.h"
#include "decode/platform_decoder_reader.h"
#include "decode/wav_reader.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace lumaro;

constexpr std::uint32_t kPcmRates[] = {8000, 44100, 48000, 96000, 192000, 352800, 768000};
constexpr std::uint64_t kLeadIns[] = {0, 48};
constexpr std::size_t kChoiceBytes = 2;
constexpr std::uint32_t kWave64Bits = 64;

// The input's samples as real frames of a float record (zero-padded to whole frames).
dsp::AudioBufferPtr AudioRecord(std::uint8_t choice, const std::uint8_t* data, std::size_t size) {
  const std::uint64_t frames = std::max<std::uint64_t>(1, (size + 15) / 16);
  dsp::AudioBufferPtr audio;
  if (dsp::NewAudioBuffer(audio, kPcmRates[choice % std::size(kPcmRates)], frames,
                          kLeadIns[(choice / std::size(kPcmRates)) % std::size(kLeadIns)]) != kOk) {
    fuzz::Fail("NewAudioBuffer refused a small record");
  }
  std::memset(audio->Frame(0), 0, frames * 16);
  if (size > 0) std::memcpy(audio->Frame(0), data, size);
  return audio;
}

dsp::DsdBufferPtr DsdRecord(std::uint8_t choice, const std::uint8_t* data, std::size_t size) {
  const std::uint64_t length = std::max<std::uint64_t>(1, (size + 1) / 2);
  dsp::DsdBufferPtr dsd;
  if (dsp::NewDsdBuffer(dsd, dsp::kDsdRates[choice % std::size(dsp::kDsdRates)], length) != kOk) {
    fuzz::Fail("NewDsdBuffer refused a small record");
  }
  std::memset(dsd->Data(), 0, length * 2);
  if (size > 0) std::memcpy(dsd->Data(), data, size);
  return dsd;
}

void CheckWav(const fuzz::ScratchDir& dir, const dsp::AudioBuffer& audio,
              const platform::StopWord& stop) {
  const std::u16string path = dir.File(u"cache.wav");
  if (decode::WriteWavCache(path, audio, stop) != kOk) fuzz::Fail("WAV cache write failed");
  dsp::BufferSlot slot;
  if (decode::ReadWav(path, slot, stop) != kOk) fuzz::Fail("WAV cache read back failed");
  const dsp::PcmBuffer* pcm = slot.Get<dsp::PcmBuffer>();
  if (pcm == nullptr || pcm->sampleFormat != dsp::kPcmFloat || pcm->channels != 2 ||
      pcm->bits != 64 || pcm->sampleRate != audio.sampleRate ||
      pcm->frameCount != audio.frameCount) {
    fuzz::Fail("WAV cache read back in another format");
  }
  if (std::memcmp(pcm->Data(), audio.Frame(0), audio.frameCount * 16) != 0) {
    fuzz::Fail("WAV cache samples differ");
  }
}

void CheckWave64(const fuzz::ScratchDir& dir, const dsp::AudioBuffer& audio,
                 const platform::StopWord& stop) {
  const std::u16string path = dir.File(u"cache.w64");
  if (decode::WriteWave64Cache(path, audio, stop) != kOk) fuzz::Fail("Wave64 cache write failed");
  dsp::BufferSlot slot;
  std::uint32_t bits = 0;
  if (decode::ReadWithPlatformDecoder(path, slot, &bits, stop) != kOk) {
    fuzz::Fail("Wave64 cache read back failed");
  }
  const dsp::AudioBuffer* back = slot.Get<dsp::AudioBuffer>();
  if (back == nullptr || bits != kWave64Bits || back->sampleRate != audio.sampleRate ||
      back->frameCount != audio.frameCount) {
    fuzz::Fail("Wave64 cache read back in another format");
  }
  for (std::uint64_t i = 0; i < 2 * audio.frameCount; ++i) {
    const double written = audio.Frame(0)[i];
    const double expected = std::isfinite(written) ? written : 0.0;
    const double got = back->Frame(0)[i];
    if (std::memcmp(&got, &expected, sizeof got) != 0) fuzz::Fail("Wave64 cache samples differ");
  }
}

void CheckDsdiff(const fuzz::ScratchDir& dir, const dsp::DsdBuffer& dsd,
                 const platform::StopWord& stop) {
  const std::u16string path = dir.File(u"cache.dff");
  if (decode::WriteDsdiffCache(path, dsd, stop) != kOk) fuzz::Fail("DSDIFF cache write failed");
  dsp::BufferSlot slot;
  if (decode::ReadDsdiff(path, slot, stop) != kOk) fuzz::Fail("DSDIFF cache read back failed");
  const dsp::DsdBuffer* back = slot.Get<dsp::DsdBuffer>();
  if (back == nullptr || back->dsdRate != dsd.dsdRate || back->length != dsd.length) {
    fuzz::Fail("DSDIFF cache read back in another format");
  }
  if (std::memcmp(back->Data(), dsd.Data(), dsd.length * 2) != 0) {
    fuzz::Fail("DSDIFF cache bytes differ");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kChoiceBytes) return 0;
  static const fuzz::ScratchDir dir;
  const platform::StopWord stop;
  const dsp::AudioBufferPtr audio = AudioRecord(data[0], data + kChoiceBytes, size - kChoiceBytes);
  CheckWav(dir, *audio, stop);
  CheckWave64(dir, *audio, stop);
  const dsp::DsdBufferPtr dsd = DsdRecord(data[1], data + kChoiceBytes, size - kChoiceBytes);
  CheckDsdiff(dir, *dsd, stop);
  return 0;
}
