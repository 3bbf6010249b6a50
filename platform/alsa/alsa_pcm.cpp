#include "platform/alsa/alsa_pcm.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <set>

#include "platform/text.h"

namespace lumaro::platform::alsa {

namespace {

constexpr int kChannels = 2;
constexpr std::uint32_t kMillisecondsPerSecond = 1000;
// Waits for room last at least this long, so that a short period still leaves the device time.
constexpr std::uint32_t kMinimumWaitMs = 20;
// The ring holds at least the sounding period and the next.
constexpr unsigned int kMinimumPeriods = 2;

// ALSA's aliases: names that convert, mix, route or discard rather than name a device.
constexpr std::array<std::string_view, 26> kAliases = {
    "default",   "sysdefault", "plughw",    "plug",   "dmix",  "dsnoop",   "front",
    "rear",      "center_lfe", "side",      "iec958", "spdif", "hdmi",     "null",
    "pulse",     "pipewire",   "jack",      "oss",    "upmix", "vdownmix", "lavrate",
    "usbstream", "modem",      "phoneline", "dpl",    "a52"};
constexpr std::array<std::string_view, 3> kAliasPrefixes = {"surround", "samplerate", "speexrate"};
// The captions ALSA's own configuration gives its hints' second lines.
constexpr std::array<std::string_view, 7> kGenericCaptions = {"without any conversions",
                                                              "software conversions",
                                                              "default audio device",
                                                              "sample mixing device",
                                                              "sample snooping device",
                                                              "discard all samples",
                                                              "plugin"};

// ALSA's library prints its own diagnostics to standard error; the player reports failures in
// its own words, so they are silenced once for the process.
void QuietHandler(const char*, int, const char*, int, const char*, ...) {}
void QuietAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(QuietHandler); });
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A hint's value, or "" when it has none.
std::string HintValue(const void* hint, const char* id) {
  char* value = snd_device_name_get_hint(hint, id);
  if (value == nullptr) return {};
  std::string text(value);
  std::free(value);
  return text;
}

// The value after `key=` in a hint name ("hw:CARD=X,DEV=3", "DEV" → "3"); "" when absent.
std::string ArgumentOf(const std::string& pcm, std::string_view key) {
  const std::size_t at = pcm.find(std::string(key) + "=");
  if (at == std::string::npos) return {};
  const std::size_t from = at + key.size() + 1;
  const std::size_t end = pcm.find(',', from);
  return pcm.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

bool IsHardware(const std::string& pcm) { return pcm.rfind("hw:", 0) == 0; }

// The card and device ALSA's "default" plays to (0 and 0 unless the configuration says other).
void DefaultOutput(int* card, int* device) {
  *card = 0;
  *device = 0;
  snd_config_t* node = nullptr;
  if (snd_config_update() < 0 || snd_config == nullptr) return;
  long number = 0;
  const char* text = nullptr;
  if (snd_config_search(snd_config, "defaults.pcm.card", &node) == 0) {
    if (snd_config_get_integer(node, &number) == 0) {
      *card = static_cast<int>(number);
    } else if (snd_config_get_string(node, &text) == 0 && snd_card_get_index(text) >= 0) {
      *card = snd_card_get_index(text);
    }
  }
  if (snd_config_search(snd_config, "defaults.pcm.device", &node) == 0 &&
      snd_config_get_integer(node, &number) == 0) {
    *device = static_cast<int>(number);
  }
}

int OpenMode(Conversions conversions) {
  int mode = SND_PCM_NONBLOCK | SND_PCM_NO_AUTO_RESAMPLE;
  if (conversions == Conversions::kNone)
    mode |= SND_PCM_NO_AUTO_CHANNELS | SND_PCM_NO_AUTO_FORMAT | SND_PCM_NO_SOFTVOL;
  return mode;
}

OpenError ErrorOf(int code) {
  switch (code) {
    case -EBUSY:
    case -EAGAIN:
      return OpenError::kBusy;
    case -ENOENT:
    case -ENODEV:
    case -ENXIO:
      return OpenError::kMissing;
    default:
      return OpenError::kRefused;
  }
}

// Opens `pcm` for playback; nullptr with `*error` set on failure.
snd_pcm_t* OpenPcm(const std::string& pcm, Conversions conversions, OpenError* error) {
  QuietAlsa();
  snd_pcm_t* handle = nullptr;
  const int opened =
      snd_pcm_open(&handle, pcm.c_str(), SND_PCM_STREAM_PLAYBACK, OpenMode(conversions));
  *error = opened < 0 ? ErrorOf(opened) : OpenError::kNone;
  return opened < 0 ? nullptr : handle;
}

struct HwParamsFree {
  void operator()(snd_pcm_hw_params_t* p) const { snd_pcm_hw_params_free(p); }
};
using HwParams = std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree>;

HwParams NewHwParams() {
  snd_pcm_hw_params_t* p = nullptr;
  return HwParams(snd_pcm_hw_params_malloc(&p) == 0 ? p : nullptr);
}

// The whole space of `pcm` narrowed to two interleaved channels of `format`, rate untouched.
HwParams Narrowed(snd_pcm_t* pcm, int format) {
  HwParams p = NewHwParams();
  if (!p || snd_pcm_hw_params_any(pcm, p.get()) < 0 ||
      snd_pcm_hw_params_set_access(pcm, p.get(), SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      snd_pcm_hw_params_set_format(pcm, p.get(), static_cast<snd_pcm_format_t>(format)) < 0 ||
      snd_pcm_hw_params_set_channels(pcm, p.get(), kChannels) < 0) {
    return nullptr;
  }
  return p;
}

}  // namespace

int FormatS16Le() { return SND_PCM_FORMAT_S16_LE; }
int FormatS24_3Le() { return SND_PCM_FORMAT_S24_3LE; }
int FormatS32Le() { return SND_PCM_FORMAT_S32_LE; }
int FormatS16Be() { return SND_PCM_FORMAT_S16_BE; }
int FormatS24_3Be() { return SND_PCM_FORMAT_S24_3BE; }
int FormatS32Be() { return SND_PCM_FORMAT_S32_BE; }
int FormatFloatLe() { return SND_PCM_FORMAT_FLOAT_LE; }
int FormatDsdU8() { return SND_PCM_FORMAT_DSD_U8; }
int FormatDsdU16Be() { return SND_PCM_FORMAT_DSD_U16_BE; }
int FormatDsdU32Be() { return SND_PCM_FORMAT_DSD_U32_BE; }

std::uint32_t SampleBytes(int alsaFormat) {
  switch (alsaFormat) {
    case SND_PCM_FORMAT_DSD_U8:
      return 1;
    case SND_PCM_FORMAT_S16_LE:
    case SND_PCM_FORMAT_S16_BE:
    case SND_PCM_FORMAT_DSD_U16_BE:
      return 2;
    case SND_PCM_FORMAT_S24_3LE:
    case SND_PCM_FORMAT_S24_3BE:
      return 3;
    case SND_PCM_FORMAT_S32_LE:
    case SND_PCM_FORMAT_S32_BE:
    case SND_PCM_FORMAT_FLOAT_LE:
    case SND_PCM_FORMAT_DSD_U32_BE:
      return 4;
    default:
      return 0;
  }
}

std::string SharedPcmOf(const std::string& pcm, int card, int defaultCard, int defaultDevice) {
  if (!IsHardware(pcm)) return "plug:'" + pcm + "'";
  const std::string device = ArgumentOf(pcm, "DEV");
  const int number = device.empty() ? 0 : std::atoi(device.c_str());
  if (card == defaultCard && number == defaultDevice) return "default";
  return "plug:'dmix:" + pcm.substr(3) + "'";
}

bool IsAliasName(const std::string& pcm) {
  const std::string base = pcm.substr(0, pcm.find(':'));
  if (std::find(kAliases.begin(), kAliases.end(), base) != kAliases.end()) return true;
  return std::any_of(kAliasPrefixes.begin(), kAliasPrefixes.end(),
                     [&](std::string_view prefix) { return base.rfind(prefix, 0) == 0; });
}

std::u16string FriendlyName(const std::string& description) {
  const std::size_t end = description.find('\n');
  std::string name = description.substr(0, end);
  if (end != std::string::npos) {
    const std::size_t next = description.find('\n', end + 1);
    const std::string second =
        description.substr(end + 1, next == std::string::npos ? next : next - end - 1);
    const std::string lower = Lower(second);
    const bool generic =
        std::any_of(kGenericCaptions.begin(), kGenericCaptions.end(),
                    [&](std::string_view caption) { return lower.find(caption) != lower.npos; });
    if (!second.empty() && !generic) name += ", " + second;
  }
  return Utf8ToUtf16(name);
}

std::vector<AlsaDevice> ListDevices() {
  QuietAlsa();
  std::vector<AlsaDevice> devices;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return devices;
  std::set<std::u16string> taken;
  int defaultCard = 0;
  int defaultDevice = 0;
  DefaultOutput(&defaultCard, &defaultDevice);
  for (void** hint = hints; *hint != nullptr; ++hint) {
    const std::string pcm = HintValue(*hint, "NAME");
    const std::string description = HintValue(*hint, "DESC");
    const std::string io = HintValue(*hint, "IOID");
    if (pcm.empty() || (!io.empty() && io != "Output")) continue;
    if (!IsHardware(pcm) && (description.empty() || IsAliasName(pcm))) continue;
    const int card = snd_card_get_index(ArgumentOf(pcm, "CARD").c_str());
    AlsaDevice device{pcm, SharedPcmOf(pcm, card, defaultCard, defaultDevice),
                      FriendlyName(description.empty() ? pcm : description)};
    if (!taken.insert(device.friendly).second) {
      device.friendly += u" (" + Utf8ToUtf16(pcm) + u")";
      taken.insert(device.friendly);
    }
    devices.push_back(std::move(device));
  }
  snd_device_name_free_hint(hints);
  return devices;
}

// ---- DeviceQuery -------------------------------------------------------------------------

struct DeviceQuery::Impl {
  snd_pcm_t* pcm = nullptr;
  ~Impl() {
    if (pcm != nullptr) snd_pcm_close(pcm);
  }
};

DeviceQuery::DeviceQuery(const std::string& pcm, Conversions conversions)
    : impl_(std::make_unique<Impl>()) {
  impl_->pcm = OpenPcm(pcm, conversions, &error_);
}

DeviceQuery::~DeviceQuery() = default;

bool DeviceQuery::Takes(int alsaFormat, std::uint32_t rate, std::uint32_t* significant) {
  if (impl_->pcm == nullptr) return false;
  HwParams p = Narrowed(impl_->pcm, alsaFormat);
  if (!p || snd_pcm_hw_params_set_rate(impl_->pcm, p.get(), rate, 0) < 0) return false;
  if (significant != nullptr)
    *significant = static_cast<std::uint32_t>(std::max(snd_pcm_hw_params_get_sbits(p.get()), 0));
  return true;
}

std::uint32_t DeviceQuery::NearestRate(int alsaFormat, std::uint32_t rate) {
  if (impl_->pcm == nullptr) return 0;
  HwParams p = Narrowed(impl_->pcm, alsaFormat);
  unsigned int near = rate;
  if (!p || snd_pcm_hw_params_set_rate_near(impl_->pcm, p.get(), &near, nullptr) < 0) return 0;
  return near;
}

bool DeviceQuery::PeriodRange(int alsaFormat, std::uint32_t rate, std::uint32_t* minFrames,
                              std::uint32_t* maxFrames) {
  if (impl_->pcm == nullptr) return false;
  HwParams p = Narrowed(impl_->pcm, alsaFormat);
  snd_pcm_uframes_t low = 0;
  snd_pcm_uframes_t high = 0;
  if (!p || snd_pcm_hw_params_set_rate(impl_->pcm, p.get(), rate, 0) < 0 ||
      snd_pcm_hw_params_get_period_size_min(p.get(), &low, nullptr) < 0 ||
      snd_pcm_hw_params_get_period_size_max(p.get(), &high, nullptr) < 0) {
    return false;
  }
  *minFrames = static_cast<std::uint32_t>(std::min<snd_pcm_uframes_t>(low, UINT32_MAX));
  *maxFrames = static_cast<std::uint32_t>(std::min<snd_pcm_uframes_t>(high, UINT32_MAX));
  return true;
}

// ---- PcmStream ---------------------------------------------------------------------------

struct PcmStream::Impl {
  snd_pcm_t* pcm = nullptr;
  int wakeFd = -1;
  std::vector<pollfd> fds;  // the PCM's descriptors, then the wake descriptor
  ~Impl() {
    if (pcm != nullptr) snd_pcm_close(pcm);
    if (wakeFd >= 0) ::close(wakeFd);
  }
};

namespace {

// Sets `format`, `periodFrames` (nearest) and `periods` periods (at least two) on `pcm`; the
// player starts it itself. Whatever ring the device settles on, it signals room only once no
// more than one period is left in it: the player's count of what has sounded (a buffer of
// silence behind the last music) holds for any ring.
bool Configure(snd_pcm_t* pcm, const StreamFormat& format, snd_pcm_uframes_t* period,
               snd_pcm_uframes_t* buffer, std::uint32_t periods) {
  HwParams hw = Narrowed(pcm, format.alsaFormat);
  unsigned int minimumPeriods = kMinimumPeriods;
  if (!hw || snd_pcm_hw_params_set_rate_resample(pcm, hw.get(), 0) < 0 ||
      snd_pcm_hw_params_set_rate(pcm, hw.get(), format.rate, 0) < 0 ||
      snd_pcm_hw_params_set_periods_min(pcm, hw.get(), &minimumPeriods, nullptr) < 0 ||
      snd_pcm_hw_params_set_period_size_near(pcm, hw.get(), period, nullptr) < 0) {
    return false;
  }
  *buffer = *period * periods;
  if (snd_pcm_hw_params_set_buffer_size_near(pcm, hw.get(), buffer) < 0 ||
      snd_pcm_hw_params(pcm, hw.get()) < 0 ||
      snd_pcm_hw_params_get_period_size(hw.get(), period, nullptr) < 0 ||
      snd_pcm_hw_params_get_buffer_size(hw.get(), buffer) < 0) {
    return false;
  }
  snd_pcm_sw_params_t* sw = nullptr;
  if (snd_pcm_sw_params_malloc(&sw) < 0) return false;
  snd_pcm_uframes_t boundary = 0;
  const bool ok =
      snd_pcm_sw_params_current(pcm, sw) == 0 &&
      snd_pcm_sw_params_get_boundary(sw, &boundary) == 0 &&
      snd_pcm_sw_params_set_avail_min(pcm, sw, std::max(*period, *buffer - *period)) == 0 &&
      snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary) == 0 &&
      snd_pcm_sw_params(pcm, sw) == 0;
  snd_pcm_sw_params_free(sw);
  return ok;
}

}  // namespace

std::unique_ptr<PcmStream> PcmStream::Open(const std::string& pcm, Conversions conversions,
                                           const StreamFormat& format, std::uint32_t periodFrames,
                                           std::uint32_t periods, Report report, OpenError* error) {
  std::unique_ptr<PcmStream> stream(new PcmStream());
  stream->impl_ = std::make_unique<Impl>();
  Impl& impl = *stream->impl_;
  impl.pcm = OpenPcm(pcm, conversions, error);
  if (impl.pcm == nullptr) return nullptr;
  snd_pcm_uframes_t period = std::max<std::uint32_t>(periodFrames, 1);
  snd_pcm_uframes_t buffer = 0;
  impl.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  const int count = snd_pcm_poll_descriptors_count(impl.pcm);
  if (impl.wakeFd < 0 || count <= 0 ||
      !Configure(impl.pcm, format, &period, &buffer, std::max<std::uint32_t>(periods, 2))) {
    *error = OpenError::kRefused;
    return nullptr;
  }
  impl.fds.resize(static_cast<std::size_t>(count) + 1);
  if (snd_pcm_poll_descriptors(impl.pcm, impl.fds.data(), static_cast<unsigned>(count)) != count) {
    *error = OpenError::kRefused;
    return nullptr;
  }
  impl.fds.back() = pollfd{impl.wakeFd, POLLIN, 0};
  stream->name_ = pcm;
  stream->report_ = std::move(report);
  stream->frameBytes_ = format.frameBytes;
  stream->periodFrames_ = static_cast<std::uint32_t>(period);
  stream->bufferFrames_ = static_cast<std::uint32_t>(buffer);
  stream->periodMs_ = std::max<std::uint32_t>(
      static_cast<std::uint32_t>(period * kMillisecondsPerSecond / format.rate), 1);
  return stream;
}

PcmStream::~PcmStream() = default;

PcmStream::Room PcmStream::WaitForRoom(int milliseconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    std::vector<pollfd> fds = impl_->fds;
    const int polled =
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    if (polled < 0 && errno != EINTR) return Room::kTimeout;
    if (fds.back().revents != 0) return Room::kWoken;
    if (polled > 0) {
      // The device's own events tell whether there is room (some descriptors wake for other
      // reasons, such as a mixer's timer).
      unsigned short revents = 0;
      std::lock_guard<std::mutex> lock(mutex_);
      if (snd_pcm_poll_descriptors_revents(impl_->pcm, fds.data(),
                                           static_cast<unsigned>(fds.size() - 1), &revents) < 0 ||
          (revents & (POLLOUT | POLLERR)) != 0) {
        return Room::kReady;  // an error is told by the next write
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) return Room::kTimeout;
  }
}

void PcmStream::Wake() {
  const std::uint64_t one = 1;
  (void)!::write(impl_->wakeFd, &one, sizeof one);
}

void PcmStream::Rest() {
  std::uint64_t count = 0;
  (void)!::read(impl_->wakeFd, &count, sizeof count);
}

bool PcmStream::Recover(int error) {
  ++underruns_;
  if (report_) {
    report_("ALSA: underrun on " + name_ + " (" + std::to_string(underruns_.load()) +
            " so far); playback continues");
  }
  return snd_pcm_recover(impl_->pcm, error, 1) == 0;
}

bool PcmStream::Write(const std::uint8_t* data, std::uint32_t frames) {
  const int waitMs = static_cast<int>(std::max(2 * periodMs_, kMinimumWaitMs));
  bool recovered = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (frames > 0) {
    snd_pcm_sframes_t written = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      written = snd_pcm_writei(impl_->pcm, data, frames);
      if (written == -EPIPE || written == -ESTRPIPE) {
        if (!Recover(static_cast<int>(written))) return false;
        recovered = true;
        continue;
      }
      if (written > 0 && recovered && started_ &&
          snd_pcm_state(impl_->pcm) == SND_PCM_STATE_PREPARED) {
        recovered = snd_pcm_start(impl_->pcm) < 0;
      }
    }
    if (written == -EAGAIN) {
      // Full: wait for room, at most `waitMs` in all while no frame goes in; a wake ends the
      // write (the stream is being stopped).
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || WaitForRoom(static_cast<int>(left.count())) == Room::kWoken)
        return false;
      continue;
    }
    if (written < 0) return false;
    deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    data += static_cast<std::size_t>(written) * frameBytes_;
    frames -= static_cast<std::uint32_t>(written);
  }
  return true;
}

bool PcmStream::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  started_ = snd_pcm_start(impl_->pcm) == 0;
  return started_;
}

void PcmStream::Drop() {
  std::lock_guard<std::mutex> lock(mutex_);
  started_ = false;
  (void)snd_pcm_drop(impl_->pcm);
  (void)snd_pcm_prepare(impl_->pcm);
}

std::uint32_t PcmStream::Queued() {
  std::lock_guard<std::mutex> lock(mutex_);
  const snd_pcm_sframes_t room = snd_pcm_avail(impl_->pcm);
  if (room < 0) return 0;
  return static_cast<std::uint32_t>(
      bufferFrames_ -
      std::min<snd_pcm_uframes_t>(static_cast<snd_pcm_uframes_t>(room), bufferFrames_));
}

}  // namespace lumaro::platform::alsa
