// The platform's own decoder on POSIX systems: libsndfile.
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <new>

#include "platform/posix/native_path.h"
#include "platform/system_decoder.h"

namespace lumaro::platform {
namespace {

// The form that holds a subformat's samples exactly. libsndfile's integer reads place a sample
// in the top bits of the word; its normalised double of a B-bit sample is s / 2^(B-1), exactly
// the integer form times 2^-15 or 2^-31, so either way gives the same values.
SampleForm FormOf(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
      return SampleForm::kInt16;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
      return SampleForm::kInt32;
    case SF_FORMAT_FLOAT:
      return SampleForm::kFloat32;
    default:
      return SampleForm::kFloat64;
  }
}

class SndfileDecoder final : public SystemDecoder {
 public:
  SndfileDecoder(int descriptor, SNDFILE* file, const SF_INFO& info) noexcept
      : descriptor_(descriptor), file_(file), info_(info), form_(FormOf(info.format)) {}
  ~SndfileDecoder() override {
    sf_close(file_);
    ::close(descriptor_);
  }
  SndfileDecoder(const SndfileDecoder&) = delete;
  SndfileDecoder& operator=(const SndfileDecoder&) = delete;

  unsigned Channels() const noexcept override {
    return info_.channels > 0 ? static_cast<unsigned>(info_.channels) : 0;
  }
  std::uint32_t SampleRate() const noexcept override {
    return info_.samplerate > 0 ? static_cast<std::uint32_t>(info_.samplerate) : 0;
  }
  SampleForm Form() const noexcept override { return form_; }

  std::int64_t Read(void* out, std::uint64_t frames) noexcept override {
    const auto asked = static_cast<sf_count_t>(frames);
    sf_count_t got = 0;
    switch (form_) {
      case SampleForm::kInt16:
        got = sf_readf_short(file_, static_cast<short*>(out), asked);
        break;
      case SampleForm::kInt32:
        got = sf_readf_int(file_, static_cast<int*>(out), asked);
        break;
      case SampleForm::kFloat32:
        got = sf_readf_float(file_, static_cast<float*>(out), asked);
        break;
      case SampleForm::kFloat64:
        got = sf_readf_double(file_, static_cast<double*>(out), asked);
        break;
    }
    if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR) return -1;
    return got;
  }

 private:
  int descriptor_;
  SNDFILE* file_;
  SF_INFO info_;
  SampleForm form_;
};

}  // namespace

SystemDecoderKind SystemDecoder::Kind() noexcept { return SystemDecoderKind::kLibsndfile; }

std::unique_ptr<SystemDecoder> SystemDecoder::Open(std::u16string_view path) noexcept {
  std::string native;
  if (path.empty() || !NativePath(path, &native)) return nullptr;
  // Opened here rather than by libsndfile so that no child process inherits the descriptor.
  const int descriptor = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  SF_INFO info{};
  SNDFILE* file = sf_open_fd(descriptor, SFM_READ, &info, SF_FALSE);
  if (file == nullptr) {
    ::close(descriptor);
    return nullptr;
  }
  // Lossy and other formats decode to doubles at full scale 1.0.
  sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
  std::unique_ptr<SystemDecoder> decoder(new (std::nothrow) SndfileDecoder(descriptor, file, info));
  if (!decoder) {
    sf_close(file);
    ::close(descriptor);
  }
  return decoder;
}

}  // namespace lumaro::platform
