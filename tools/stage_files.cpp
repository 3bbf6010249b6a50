#include "tools/stage_files.h"

#include <algorithm>
#include <array>
#include <span>

#include "decode/byte_order.h"
#include "decode/cache_file.h"
#include "decode/cache_writers.h"
#include "decode/dsdiff_reader.h"
#include "decode/dsf_reader.h"
#include "decode/file_transfer.h"
#include "decode/platform_decoder_reader.h"
#include "decode/wav_reader.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::tools {
namespace {

enum : Result {
  kErrUnread = FirstCode(FailureSite::kStageFiles),
  kErrNoRecord,
  kErrCreate,
  kErrWrite,
  kErrTooLarge
};
constexpr platform::FailureNames kFailures{
    FailureSite::kStageFiles,
    kErrTooLarge,
    {"stage input unreadable", "stage input has no record", "stage output create failed",
     "stage output write failed", "stage output too large"}};

constexpr std::size_t kPcmWavHeaderBytes = 44;
constexpr std::size_t kExtensibleWavHeaderBytes = 68;
constexpr std::uint16_t kTagExtensible = 0xFFFE;
constexpr std::uint16_t kExtensionBytes = 22;
constexpr std::uint32_t kMaskStereo = 3;  // front left, front right
constexpr std::uint32_t kMaskMono = 4;    // front centre
// The rest of the PCM sub-format identifier after its first two bytes (the format tag).
constexpr std::array<unsigned char, 14> kPcmSubFormatTail = {
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Writes `header` then `bytes` of `data` into a new `path`; deletes it on failure.
Result WriteBytes(std::u16string_view path, std::span<const unsigned char> header, const void* data,
                  std::uint64_t bytes) {
  std::unique_ptr<platform::File> file =
      platform::File::Open(path, platform::OpenMode::kCreateAlways);
  if (!file) return kFailures.Note(kErrCreate);
  const bool written = decode::WriteFully(*file, header.data(), header.size()) == header.size() &&
                       decode::WriteFully(*file, data, bytes) == bytes;
  file.reset();
  if (written) return kOk;
  platform::DeleteFile(path);
  return kFailures.Note(kErrWrite);
}

// A RIFF/WAVE file of the PcmBuffer's own format: tag 1 or 3, or the extensible format when
// integer samples carry fewer valid bits than their container.
Result WritePcmWav(std::u16string_view path, const dsp::PcmBuffer& pcm, unsigned validBits) {
  using decode::StoreId;
  using decode::StoreLe;
  const bool extensible =
      pcm.sampleFormat == dsp::kPcmInteger && validBits > 0 && validBits < pcm.bits;
  const std::size_t headerBytes = extensible ? kExtensibleWavHeaderBytes : kPcmWavHeaderBytes;
  const std::uint32_t formatBytes = extensible ? 40 : 16;
  const std::uint64_t dataBytes = pcm.DataSize();
  if (dataBytes > UINT32_MAX - (headerBytes - 8)) return kFailures.Note(kErrTooLarge);
  const std::uint16_t blockAlign = pcm.BytesPerFrame();
  std::array<unsigned char, kExtensibleWavHeaderBytes> h{};
  StoreId(h.data(), "RIFF");
  StoreLe<std::uint32_t>(h.data() + 4, static_cast<std::uint32_t>(dataBytes + headerBytes - 8));
  StoreId(h.data() + 8, "WAVE");
  StoreId(h.data() + 12, "fmt ");
  StoreLe<std::uint32_t>(h.data() + 16, formatBytes);
  StoreLe<std::uint16_t>(h.data() + 20, extensible ? kTagExtensible : pcm.sampleFormat);
  StoreLe<std::uint16_t>(h.data() + 22, pcm.channels);
  StoreLe<std::uint32_t>(h.data() + 24, pcm.sampleRate);
  StoreLe<std::uint32_t>(h.data() + 28, pcm.sampleRate * blockAlign);
  StoreLe<std::uint16_t>(h.data() + 32, blockAlign);
  StoreLe<std::uint16_t>(h.data() + 34, pcm.bits);
  unsigned char* data = h.data() + 36;
  if (extensible) {
    StoreLe<std::uint16_t>(h.data() + 36, kExtensionBytes);
    StoreLe<std::uint16_t>(h.data() + 38, static_cast<std::uint16_t>(validBits));
    StoreLe<std::uint32_t>(h.data() + 40, pcm.channels == 1 ? kMaskMono : kMaskStereo);
    StoreLe<std::uint16_t>(h.data() + 44, dsp::kPcmInteger);
    std::copy(kPcmSubFormatTail.begin(), kPcmSubFormatTail.end(), h.data() + 46);
    data = h.data() + 60;
  }
  StoreId(data, "data");
  StoreLe<std::uint32_t>(data + 4, static_cast<std::uint32_t>(dataBytes));
  return WriteBytes(path, std::span<const unsigned char>(h.data(), headerBytes), pcm.Data(),
                    dataBytes);
}

Result WriteRaw(std::u16string_view path, const dsp::BufferSlot& slot) {
  if (const auto* audio = slot.Get<dsp::AudioBuffer>()) {
    return WriteBytes(path, {}, audio->Frame(0), audio->frameCount * dsp::kAudioFrameBytes);
  }
  if (const auto* pcm = slot.Get<dsp::PcmBuffer>()) {
    return WriteBytes(path, {}, pcm->Data(), pcm->DataSize());
  }
  if (const auto* dsd = slot.Get<dsp::DsdBuffer>()) {
    return WriteBytes(path, {}, dsd->Data(), dsd->length * 2);
  }
  return kFailures.Note(kErrNoRecord);
}

}  // namespace

Result ReadStageInput(std::u16string_view path, dsp::BufferSlot& slot,
                      const platform::StopWord& stop) {
  if (decode::ReadWav(path, slot, stop) == kOk) return kOk;
  if (decode::ReadDsf(path, slot, stop) == kOk) return kOk;
  if (decode::ReadDsdiff(path, slot, stop) == kOk) return kOk;
  std::uint32_t bits = 0;
  if (decode::ReadWithPlatformDecoder(path, slot, &bits, stop) == kOk) return kOk;
  return kFailures.Note(kErrUnread);
}

Result WriteStageOutput(std::u16string_view path, const dsp::BufferSlot& slot,
                        const platform::StopWord& stop, unsigned validBits) {
  if (platform::EqualNoCase(platform::PathFindExtension(path), u".raw")) {
    return WriteRaw(path, slot);
  }
  if (const auto* audio = slot.Get<dsp::AudioBuffer>()) {
    if (decode::CacheFormatFor(false, audio->frameCount) == decode::CacheFormat::kWav) {
      return decode::WriteWavCache(path, *audio, stop);
    }
    return decode::WriteWave64Cache(path, *audio, stop);
  }
  if (const auto* dsd = slot.Get<dsp::DsdBuffer>()) {
    return decode::WriteDsdiffCache(path, *dsd, stop);
  }
  if (const auto* pcm = slot.Get<dsp::PcmBuffer>()) return WritePcmWav(path, *pcm, validBits);
  return kFailures.Note(kErrNoRecord);
}

std::string_view RecordName(const dsp::BufferSlot& slot) {
  if (slot.Get<dsp::AudioBuffer>() != nullptr) return "AudioBuffer";
  if (slot.Get<dsp::PcmBuffer>() != nullptr) return "PcmBuffer";
  if (slot.Get<dsp::DsdBuffer>() != nullptr) return "DsdBuffer";
  return "none";
}

}  // namespace lumaro::tools
