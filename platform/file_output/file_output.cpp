#include "platform/file_output/file_output.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <thread>

#include "platform/device_formats.h"
#include "platform/failure.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::platform::file_output {

using endpoint::HResult;
using endpoint::kEFail;
using endpoint::kSFalse;
using endpoint::kSOk;
using endpoint::ShareMode;
using endpoint::SubFormat;
using endpoint::WaveFormat;

namespace {

enum : Result {
  kErrOpen = FirstCode(FailureSite::kFileOutput),
  kErrWrite,
};
constexpr FailureNames kFailures{
    FailureSite::kFileOutput, kErrWrite, {"File output open failed", "File output write failed"}};

constexpr std::int64_t kHundredNanosecondsPerSecond = 10'000'000;
constexpr std::uint64_t kMicrosecondsPerSecond = 1'000'000;
constexpr std::uint32_t kMaxBufferFrames = 1 << 22;

bool TakesExclusive(const WaveFormat& f) {
  if (f.subFormat != SubFormat::kPcm || f.channels != 2) return false;
  const bool ladder = std::find(std::begin(kRateLadder), std::end(kRateLadder), f.samplesPerSec) !=
                      std::end(kRateLadder);
  const bool candidate =
      std::any_of(std::begin(kPcmCandidates), std::end(kPcmCandidates), [&](PcmCandidate c) {
        return c.validBits == f.validBitsPerSample && c.containerBits == f.bitsPerSample;
      });
  return ladder && candidate;
}

bool TakesShared(const WaveFormat& f) {
  return f.subFormat == SubFormat::kIeeeFloat && f.bitsPerSample == kSharedFloatBits &&
         f.validBitsPerSample == kSharedFloatBits && f.channels == 2 &&
         f.samplesPerSec >= kSharedMinRate && f.samplesPerSec <= kSharedMaxRate;
}

void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
  out.insert(out.end(), tag, tag + 4);
}

}  // namespace

std::vector<std::uint8_t> WavHeader(const WaveFormat& format, std::uint64_t dataBytes) {
  constexpr std::uint16_t kTagPcm = 1;
  constexpr std::uint16_t kTagFloat = 3;
  constexpr std::uint8_t kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  const bool extensible =
      format.subFormat == SubFormat::kPcm && format.validBitsPerSample < format.bitsPerSample;
  const std::uint32_t fmtSize = extensible ? 40 : 16;
  const std::uint64_t riffSize = 4 + (8 + fmtSize) + 8 + dataBytes;
  std::vector<std::uint8_t> h;
  PutTag(h, "RIFF");
  PutLe(h, std::min<std::uint64_t>(riffSize, UINT32_MAX), 4);
  PutTag(h, "WAVE");
  PutTag(h, "fmt ");
  PutLe(h, fmtSize, 4);
  PutLe(h,
        extensible ? WaveFormat::kExtensibleTag
                   : (format.subFormat == SubFormat::kPcm ? kTagPcm : kTagFloat),
        2);
  PutLe(h, format.channels, 2);
  PutLe(h, format.samplesPerSec, 4);
  PutLe(h, format.avgBytesPerSec, 4);
  PutLe(h, format.blockAlign, 2);
  PutLe(h, format.bitsPerSample, 2);
  if (extensible) {
    PutLe(h, WaveFormat::kExtensionSize, 2);
    PutLe(h, format.validBitsPerSample, 2);
    PutLe(h, format.channelMask, 4);
    PutLe(h, kTagPcm, 2);
    h.insert(h.end(), std::begin(kPcmGuidTail), std::end(kPcmGuidTail));
  }
  PutTag(h, "data");
  PutLe(h, std::min<std::uint64_t>(dataBytes, UINT32_MAX), 4);
  return h;
}

bool WriteAll(File& file, const std::uint8_t* data, std::uint64_t bytes) {
  while (bytes > 0) {
    const std::int64_t put = file.Write(data, bytes);
    if (put <= 0) return false;
    data += put;
    bytes -= static_cast<std::uint64_t>(put);
  }
  return true;
}

HeaderedFile::HeaderedFile(std::unique_ptr<File> file, std::u16string path, HeaderFor header,
                           std::uint64_t refreshBytes)
    : file_(std::move(file)),
      path_(std::move(path)),
      header_(std::move(header)),
      refreshBytes_(refreshBytes) {
  const std::vector<std::uint8_t> first = header_(0);
  headerBytes_ = first.size();
  ok_ = WriteAll(*file_, first.data(), first.size());
  if (!ok_) kFailures.NoteSystemFailure(kErrWrite, path_);
}

HeaderedFile::~HeaderedFile() {
  if (headerBytes_ > 0) (void)WriteHeader();
}

bool HeaderedFile::Append(const std::uint8_t* data, std::uint64_t bytes) {
  if (!ok_) return false;
  ok_ = WriteAll(*file_, data, bytes);
  if (!ok_) {
    kFailures.NoteSystemFailure(kErrWrite, path_);
    return false;
  }
  dataBytes_ += bytes;
  sinceHeader_ += bytes;
  if (sinceHeader_ >= refreshBytes_) ok_ = WriteHeader();
  return ok_;
}

// Rewrites the header in place and moves back to the end of the data; the data of a failed
// write is not counted, so the header never claims more than the file holds whole.
bool HeaderedFile::WriteHeader() {
  sinceHeader_ = 0;
  const std::vector<std::uint8_t> header = header_(dataBytes_);
  return header.size() == headerBytes_ && file_->Seek(0) &&
         WriteAll(*file_, header.data(), header.size()) && file_->Seek(headerBytes_ + dataBytes_);
}

std::unique_ptr<File> CreateOutputFile(const std::u16string& path) {
  std::unique_ptr<File> file = File::Open(path, OpenMode::kCreateAlways);
  if (!file) kFailures.NoteSystemFailure(kErrOpen, path);
  return file;
}

std::u16string NumberedPath(const std::u16string& path, unsigned n) {
  if (n <= 1) return path;
  const std::u16string_view extension = PathFindExtension(path);
  const std::size_t stem = path.size() - extension.size();
  const std::string number = "-" + std::to_string(n);
  return path.substr(0, stem) + std::u16string(number.begin(), number.end()) +
         std::u16string(extension);
}

std::u16string WithExtension(const std::u16string& path, std::u16string_view extension) {
  return path.substr(0, path.size() - PathFindExtension(path).size()) + std::u16string(extension);
}

bool IsOutputFile(const std::u16string& output, const std::u16string& path) {
  // The number a path would carry: its stem's "-N" ending, else 1.
  unsigned number = 1;
  const std::u16string_view stem =
      std::u16string_view(path).substr(0, path.size() - PathFindExtension(path).size());
  const std::size_t dash = stem.rfind(u'-');
  if (dash != std::u16string_view::npos && dash + 1 < stem.size()) {
    const std::string digits = Utf16ToUtf8(stem.substr(dash + 1));
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size()) number = 1;
  }
  for (const std::u16string& base :
       {output, WithExtension(output, kWavExtension), WithExtension(output, kDsdiffExtension)}) {
    if (SameFile(path, NumberedPath(base, 1)) || SameFile(path, NumberedPath(base, number)))
      return true;
  }
  return false;
}

struct FileOutputSystem::Shared {
  FileOutputOptions options;
  mutable std::mutex mutex;
  std::vector<std::u16string> written;
  unsigned initialisations = 0;
};

namespace {

using Shared = FileOutputSystem::Shared;

// The recording side of one initialised client: the file, the lead-in still to leave out, and
// the pacing thread.
class Recorder {
 public:
  // The header is brought up to date with each second of audio.
  Recorder(std::unique_ptr<File> file, std::u16string path, const WaveFormat& format)
      : format_(format),
        file_(
            std::move(file), std::move(path),
            [format](std::uint64_t bytes) { return WavHeader(format, bytes); },
            format.avgBytesPerSec) {}
  bool Take(const std::uint8_t* data, std::uint32_t frames) {
    if (!file_.ok()) return false;
    if (!started_ || leadInFrames_ > 0) {
      if (started_) leadInFrames_ -= std::min<std::uint64_t>(leadInFrames_, frames);
      return true;
    }
    return file_.Append(data, static_cast<std::uint64_t>(frames) * format_.blockAlign);
  }
  // From Start on, the lead-in's frames are left out, then everything is recorded.
  void MarkStarted() {
    if (started_) return;
    started_ = true;
    leadInFrames_ = static_cast<std::uint64_t>(kLeadInSeconds) * format_.samplesPerSec;
  }
  bool ok() const { return file_.ok(); }

 private:
  WaveFormat format_;
  HeaderedFile file_;
  bool started_ = false;
  std::uint64_t leadInFrames_ = 0;
};

// What an initialised client and its render clients share. Each holds it, so they may be
// released in any order; the file's header is completed when the last of them is released.
struct Stream {
  Stream(std::unique_ptr<File> file, std::u16string path, const WaveFormat& format, bool paced)
      : recorder(std::move(file), std::move(path), format), paced(paced) {}
  // Wakes the feeding (the event given to SetEventHandle, if any).
  void Signal() {
    if (Event* e = event.load()) e->Set();
  }
  Recorder recorder;
  const bool paced;
  std::atomic<Event*> event{nullptr};
};

class FileRenderClient final : public endpoint::RenderClient {
 public:
  FileRenderClient(std::shared_ptr<Stream> stream, std::uint16_t blockAlign)
      : stream_(std::move(stream)), blockAlign_(blockAlign) {}
  HResult GetBuffer(std::uint32_t frames, std::uint8_t** data) override {
    if (!stream_->recorder.ok() || frames > kMaxBufferFrames) return kEFail;
    buffer_.resize(static_cast<std::size_t>(frames) * blockAlign_);
    *data = buffer_.data();
    return kSOk;
  }
  HResult ReleaseBuffer(std::uint32_t frames) override {
    if (static_cast<std::size_t>(frames) * blockAlign_ > buffer_.size()) return kEFail;
    const bool ok = stream_->recorder.Take(buffer_.data(), frames);
    if (!stream_->paced) stream_->Signal();
    return ok ? kSOk : kEFail;
  }

 private:
  std::shared_ptr<Stream> stream_;
  std::uint16_t blockAlign_;
  std::vector<std::uint8_t> buffer_;
};

class FileAudioClient final : public endpoint::AudioClient {
 public:
  explicit FileAudioClient(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  ~FileAudioClient() override { Stop(); }

  HResult IsFormatSupported(ShareMode mode, const WaveFormat& format,
                            std::optional<WaveFormat>* closest) override {
    closest->reset();
    if (mode == ShareMode::kExclusive)
      return TakesExclusive(format) ? kSOk : endpoint::kUnsupportedFormat;
    if (TakesShared(format)) return kSOk;
    const std::uint32_t rate = std::clamp(format.samplesPerSec, kSharedMinRate, kSharedMaxRate);
    *closest =
        endpoint::MakeWaveFormat(SubFormat::kIeeeFloat, rate, kSharedFloatBits, kSharedFloatBits);
    return kSFalse;
  }

  HResult Initialize(ShareMode mode, std::uint32_t, std::int64_t duration, std::int64_t,
                     const WaveFormat& format) override {
    if (stream_ || duration <= 0) return kEFail;
    if (!(mode == ShareMode::kExclusive ? TakesExclusive(format) : TakesShared(format))) {
      return endpoint::kUnsupportedFormat;
    }
    std::u16string path;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      path = NumberedPath(shared_->options.path, ++shared_->initialisations);
      shared_->written.push_back(path);
    }
    std::unique_ptr<File> file = CreateOutputFile(path);
    if (!file) return kEFail;
    format_ = format;
    const std::int64_t frames =
        (duration * format.samplesPerSec + kHundredNanosecondsPerSecond / 2) /
        kHundredNanosecondsPerSecond;
    bufferFrames_ =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(frames, 1, kMaxBufferFrames));
    stream_ = std::make_shared<Stream>(std::move(file), path, format, shared_->options.paced);
    return stream_->recorder.ok() ? kSOk : kEFail;
  }

  HResult GetBufferSize(std::uint32_t* frames) override {
    if (!stream_) return kEFail;
    *frames = bufferFrames_;
    return kSOk;
  }
  HResult SetEventHandle(Event* event) override {
    if (!stream_) return kEFail;
    stream_->event = event;
    return kSOk;
  }
  HResult GetService(std::unique_ptr<endpoint::RenderClient>* client) override {
    if (!stream_) return kEFail;
    *client = std::make_unique<FileRenderClient>(stream_, format_.blockAlign);
    return kSOk;
  }
  HResult Start() override {
    if (!stream_ || running_) return kEFail;
    stream_->recorder.MarkStarted();
    running_ = true;
    if (!stream_->paced) {
      stream_->Signal();
      return kSOk;
    }
    stopping_ = false;
    try {
      pacer_ = std::thread([this] { Pace(); });
    } catch (const std::exception&) {
      running_ = false;
      return kEFail;
    }
    return kSOk;
  }
  // The event is let go too: render clients that outlive the run no longer signal it.
  HResult Stop() override {
    StopPacing();
    if (stream_) stream_->event = nullptr;
    running_ = false;
    return kSOk;
  }
  HResult GetCurrentPadding(std::uint32_t* frames) override {
    *frames = 0;  // everything given is consumed by the next period
    return kSOk;
  }

 private:
  // Signals once per period until stopped.
  void Pace() {
    Clock& clock = *shared_->options.clock;
    const std::uint64_t period =
        static_cast<std::uint64_t>(bufferFrames_) * kMicrosecondsPerSecond / format_.samplesPerSec;
    std::uint64_t deadline = clock.NowMicroseconds();
    stream_->Signal();
    while (!stopping_.load()) {
      deadline += std::max<std::uint64_t>(period, 1);
      clock.SleepUntilMicroseconds(deadline);
      if (!stopping_.load()) stream_->Signal();
    }
  }
  void StopPacing() {
    stopping_ = true;
    if (pacer_.joinable()) pacer_.join();
  }

  std::shared_ptr<Shared> shared_;
  WaveFormat format_;
  std::uint32_t bufferFrames_ = 0;
  std::shared_ptr<Stream> stream_;
  bool running_ = false;
  std::atomic<bool> stopping_{false};
  std::thread pacer_;
};

class FileEndpoint final : public endpoint::Endpoint {
 public:
  explicit FileEndpoint(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  HResult GetFriendlyName(std::u16string* name) override {
    *name = kFileOutputName;
    return kSOk;
  }
  HResult Activate(std::unique_ptr<endpoint::AudioClient>* client) override {
    *client = std::make_unique<FileAudioClient>(shared_);
    return kSOk;
  }

 private:
  std::shared_ptr<Shared> shared_;
};

class FileCollection final : public endpoint::EndpointCollection {
 public:
  explicit FileCollection(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  HResult GetCount(std::uint32_t* count) override {
    *count = 1;
    return kSOk;
  }
  HResult Item(std::uint32_t index, std::unique_ptr<endpoint::Endpoint>* endpoint) override {
    if (index != 0) return kEFail;
    *endpoint = std::make_unique<FileEndpoint>(shared_);
    return kSOk;
  }

 private:
  std::shared_ptr<Shared> shared_;
};

class FileEnumerator final : public endpoint::Enumerator {
 public:
  explicit FileEnumerator(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  HResult EnumAudioEndpoints(std::unique_ptr<endpoint::EndpointCollection>* endpoints) override {
    *endpoints = std::make_unique<FileCollection>(shared_);
    return kSOk;
  }

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace

FileOutputSystem::FileOutputSystem(FileOutputOptions options)
    : shared_(std::make_shared<Shared>()) {
  shared_->options = std::move(options);
}

FileOutputSystem::~FileOutputSystem() = default;

HResult FileOutputSystem::CreateEnumerator(std::unique_ptr<endpoint::Enumerator>* enumerator) {
  *enumerator = std::make_unique<FileEnumerator>(shared_);
  return kSOk;
}

std::vector<std::u16string> FileOutputSystem::WrittenFiles() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->written;
}

}  // namespace lumaro::platform::file_output
