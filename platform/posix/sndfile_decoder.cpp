// The platform's own decoder on POSIX systems: libsndfile.
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <new>

#include "platform/posix/native_path.h"
#include "platform/system_decoder.h"

namespace lumaro::platform {
namespace {

// Integer samples are read with libsndfile's normalisation on: a B-bit sample s arrives as
// s / 2^(B-1), a power-of-two scale and so exact in a double, the same values the built-in
// readers' conversion gives. Float files are delivered as stored.
class SndfileDecoder final : public SystemDecoder {
 public:
  SndfileDecoder(int descriptor, SNDFILE* file, const SF_INFO& info) noexcept
      : descriptor_(descriptor), file_(file), info_(info) {}
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
  unsigned Bits() const noexcept override {
    return (info_.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT ? kFloatBits : kDoubleBits;
  }

  std::int64_t Read(void* out, std::uint64_t frames) noexcept override {
    const auto asked = static_cast<sf_count_t>(frames);
    const sf_count_t got = Bits() == kFloatBits
                               ? sf_readf_float(file_, static_cast<float*>(out), asked)
                               : sf_readf_double(file_, static_cast<double*>(out), asked);
    if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR) return -1;
    return got;
  }

 private:
  int descriptor_;
  SNDFILE* file_;
  SF_INFO info_;
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
  sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
  sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  std::unique_ptr<SystemDecoder> decoder(new (std::nothrow) SndfileDecoder(descriptor, file, info));
  if (!decoder) {
    sf_close(file);
    ::close(descriptor);
  }
  return decoder;
}

}  // namespace lumaro::platform
