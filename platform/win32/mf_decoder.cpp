// The platform's own decoder on Windows: Media Foundation's source reader, asked for float PCM.
#include "platform/win32/win32_api.h"

// Media Foundation's headers build on the Windows headers as the layer takes them (above).
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "platform/system_decoder.h"
#include "platform/win32/com_ref.h"

namespace lumaro::platform {
namespace {

// The apartment the decoding thread joins for the life of a decoder: single-threaded, without
// the old OLE1/DDE support.
constexpr DWORD kApartment = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE;
static_assert(kApartment == 6);
static_assert(MF_VERSION == 0x20070, "the Media Foundation version every supported system takes");

constexpr DWORD kAudioStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM);
constexpr DWORD kAllStreams = static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS);
// The float widths the reader's float output comes in.
constexpr WORD kFloatBits = 32;
constexpr WORD kDoubleBits = 64;
constexpr unsigned kBitsPerByte = 8;

// Frees what the system allocated for the caller with its task allocator.
struct TaskMemoryDeleter {
  void operator()(void* block) const noexcept { ::CoTaskMemFree(block); }
};

// The component system and Media Foundation, started on the calling thread and stopped in the
// opposite order when the object goes, which must happen on the same thread.
class MediaFoundationThread {
 public:
  MediaFoundationThread() noexcept
      : com_(SUCCEEDED(::CoInitializeEx(nullptr, kApartment))),
        mediaFoundation_(com_ && SUCCEEDED(::MFStartup(MF_VERSION, MFSTARTUP_FULL))) {}
  ~MediaFoundationThread() {
    if (mediaFoundation_) (void)::MFShutdown();
    if (com_) ::CoUninitialize();
  }
  MediaFoundationThread(const MediaFoundationThread&) = delete;
  MediaFoundationThread& operator=(const MediaFoundationThread&) = delete;

  [[nodiscard]] bool Started() const noexcept { return mediaFoundation_; }

 private:
  bool com_;
  bool mediaFoundation_;
};

// The first audio stream of a file as float PCM. The sample buffer the reader delivered last is
// kept with the offset of its first byte not yet handed out, so a Read may end inside it.
class MediaFoundationDecoder final : public SystemDecoder {
 public:
  MediaFoundationDecoder() noexcept = default;
  MediaFoundationDecoder(const MediaFoundationDecoder&) = delete;
  MediaFoundationDecoder& operator=(const MediaFoundationDecoder&) = delete;

  // Starts Media Foundation on this thread and sets the reader up; false when any step fails.
  [[nodiscard]] bool Open(const std::wstring& path) noexcept;

  unsigned Channels() const noexcept override { return channels_; }
  std::uint32_t SampleRate() const noexcept override { return rate_; }
  SampleForm Form() const noexcept override { return form_; }
  std::int64_t Read(void* out, std::uint64_t frames) noexcept override;

 private:
  // The next sample's bytes into pending_, or the end of the stream into ended_ (a read may also
  // bring neither). False when reading fails or the stream's format changes.
  [[nodiscard]] bool ReadSample() noexcept;

  // Declared first, so it is stopped after every object below is released.
  MediaFoundationThread thread_;
  ComRef<IMFSourceReader> reader_;
  ComRef<IMFMediaBuffer> pending_;
  DWORD pendingOffset_ = 0;
  bool ended_ = false;
  unsigned channels_ = 0;
  std::uint32_t rate_ = 0;
  SampleForm form_ = SampleForm::kFloat32;
  std::uint64_t frameBytes_ = 0;
};

bool MediaFoundationDecoder::Open(const std::wstring& path) noexcept {
  if (!thread_.Started()) return false;
  if (FAILED(::MFCreateSourceReaderFromURL(path.c_str(), nullptr, reader_.Put()))) return false;
  ComRef<IMFMediaType> wanted;
  if (FAILED(::MFCreateMediaType(wanted.Put())) ||
      FAILED(wanted->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio)) ||
      FAILED(wanted->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_Float)) ||
      FAILED(reader_->SetCurrentMediaType(kAudioStream, nullptr, wanted.Get()))) {
    return false;
  }
  ComRef<IMFMediaType> current;
  if (FAILED(reader_->GetCurrentMediaType(kAudioStream, current.Put()))) return false;
  // Only the audio stream is read: samples of another selected stream (a video's pictures)
  // would pile up in the reader unread.
  if (FAILED(reader_->SetStreamSelection(kAllStreams, FALSE)) ||
      FAILED(reader_->SetStreamSelection(kAudioStream, TRUE))) {
    return false;
  }
  WAVEFORMATEX* described = nullptr;
  UINT32 describedSize = 0;
  if (FAILED(::MFCreateWaveFormatExFromMFMediaType(current.Get(), &described, &describedSize,
                                                   MFWaveFormatExConvertFlag_Normal))) {
    return false;
  }
  const std::unique_ptr<WAVEFORMATEX, TaskMemoryDeleter> format(described);
  if (format->wBitsPerSample == kFloatBits) {
    form_ = SampleForm::kFloat32;
  } else if (format->wBitsPerSample == kDoubleBits) {
    form_ = SampleForm::kFloat64;
  } else {
    return false;
  }
  channels_ = format->nChannels;
  rate_ = format->nSamplesPerSec;
  frameBytes_ = std::uint64_t{channels_} * (format->wBitsPerSample / kBitsPerByte);
  return true;
}

bool MediaFoundationDecoder::ReadSample() noexcept {
  DWORD flags = 0;
  ComRef<IMFSample> sample;
  if (FAILED(reader_->ReadSample(kAudioStream, 0, nullptr, &flags, nullptr, sample.Put())) ||
      (flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED)) != 0) {
    return false;
  }
  ended_ = (flags & MF_SOURCE_READERF_ENDOFSTREAM) != 0;
  if (!sample) return true;
  pendingOffset_ = 0;
  return SUCCEEDED(sample->ConvertToContiguousBuffer(pending_.Put()));
}

std::int64_t MediaFoundationDecoder::Read(void* out, std::uint64_t frames) noexcept {
  if (frameBytes_ == 0) return -1;
  const std::uint64_t wanted =
      std::min(frames, std::uint64_t{std::numeric_limits<std::int64_t>::max()} / frameBytes_) *
      frameBytes_;
  auto* const to = static_cast<BYTE*>(out);
  std::uint64_t filled = 0;
  while (filled < wanted) {
    if (!pending_) {
      if (ended_) break;
      if (!ReadSample()) return -1;
      continue;
    }
    BYTE* bytes = nullptr;
    DWORD length = 0;
    if (FAILED(pending_->Lock(&bytes, nullptr, &length))) return -1;
    const auto taken =
        static_cast<DWORD>(std::min<std::uint64_t>(length - pendingOffset_, wanted - filled));
    std::memcpy(to + filled, bytes + pendingOffset_, taken);
    if (FAILED(pending_->Unlock())) return -1;
    filled += taken;
    pendingOffset_ += taken;
    if (pendingOffset_ >= length) pending_.Reset();
  }
  // A partial frame can only be left at the end of the stream, where it is dropped.
  return static_cast<std::int64_t>(filled / frameBytes_);
}

}  // namespace

SystemDecoderKind SystemDecoder::Kind() noexcept { return SystemDecoderKind::kMediaFoundation; }

// Open starts the component system (apartment-threaded) and Media Foundation on the calling
// thread, and the decoder stops both when it goes: Open, every call and the destruction belong to
// one thread (the playback thread), which must not be in the multithreaded apartment at the time
// (Open then fails).
std::unique_ptr<SystemDecoder> SystemDecoder::Open(std::u16string_view path) noexcept {
  std::wstring native;
  if (path.empty() || !NativePath(path, &native)) return nullptr;
  std::unique_ptr<MediaFoundationDecoder> decoder(new (std::nothrow) MediaFoundationDecoder);
  if (!decoder || !decoder->Open(native)) return nullptr;
  return decoder;
}

}  // namespace lumaro::platform
