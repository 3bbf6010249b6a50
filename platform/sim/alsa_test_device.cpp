// The ALSA test device: a playback PCM that ALSA loads from its configuration (PCM type
// "lumarotest"), so the ALSA output can be tested on machines without a sound card. It takes
// interleaved stereo in the formats and at the rates its configuration lists, consumes one period
// per period of time from a pacing thread (deadlines on CLOCK_MONOTONIC that add up from the
// start, so it does not drift), and appends every frame it plays to a record file, with a side
// file of events a test reads. It can also refuse to open, stall, or report one underrun.
//
// Its configuration (every field but `type` is optional):
//
//   pcm_type.lumarotest { lib "/abs/path/libasound_module_pcm_lumarotest.so" }
//   pcm.name {
//     type lumarotest
//     formats [ S16_LE DSD_U32_BE ]  # ALSA format names it accepts (default S16_LE)
//     rates [ 44100 88200 ]          # the exact rates it accepts (default 44100)
//     speed 1                        # 1: real time; N: N times faster
//     record "/tmp/x/a.raw"          # the played bytes go there, the events to "<record>.log"
//     busy false                     # true: every open answers -EBUSY
//     stall_after 4410               # after this many frames it consumes nothing more, for good
//     underrun_after 4410            # after this many frames it reports one xrun (-EPIPE)
//     period_bytes_min 64            # size limits, in bytes and periods (defaults shown)
//     period_bytes_max 8388608
//     buffer_bytes_min 128
//     buffer_bytes_max 33554432
//     periods_min 2
//     periods_max 32
//     hint { show on description "Test device" }
//   }
//
// Frame counts (stall_after, underrun_after, and those in the side file) are frames consumed
// since the device was opened, across prepares. Channels are 2 and the access is
// RW_INTERLEAVED; the device is for playback only.
//
// A period that finds fewer frames than it plays, outside a drain, has run dry: with the stop
// threshold below ALSA's boundary (by default it is the buffer size) the device reports an xrun
// as a card does; with the threshold at the boundary it plays what it has and waits for more. A
// drain returns when everything written was played, starting a stream that had not started yet;
// on a stalled device it fails at once with -EIO, and the application drops the stream.
//
// The side file "<record>.log" has one event per line, "<word> <number or name>", appended as
// they happen (times are CLOCK_MONOTONIC nanoseconds):
//   busy <ns>        an open was refused (busy true)
//   open <ns>        the device was opened
//   format <name>    the negotiated ALSA format, e.g. S24_3LE or DSD_U32_BE  (on every hw_params)
//   rate <hz>
//   period <frames>
//   buffer <frames>
//   start <ns>       the stream started
//   first <ns>       the first frames after that start were consumed (one period after it)
//   short <frames>   a period found too few frames while the stop threshold lets the stream run
//   xrun <frames>    an xrun is reported from here on: the injected one, or a stream run dry
//   stall <frames>   the device stopped consuming, for good
//   stop <ns>        the stream stopped (drop, the end of a drain, prepare, close)
//   frames <n>       at close: all frames consumed since open
//   underruns <n>    at close: the number of "short" and "xrun" lines of this open
//   close <ns>
//
// Poll: the descriptor (an eventfd) is readable exactly while at least avail_min frames of room
// exist or an xrun is pending, so an application that polls it is woken once per period when it
// refills what was played. Locking: the ioplug callbacks run on the application's threads and the
// pacing thread touches only the device's own state, all of it under `mutex_`.

// ALSA's headers declare the plugin's version symbol for a shared object only with PIC defined
// (the way its own plugins are built); without it they expect a static build of the library.
#ifndef PIC
#define PIC
#endif
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::uint64_t NowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000U +
         static_cast<std::uint64_t>(now.tv_nsec);
}

constexpr std::uint64_t kNever = UINT64_MAX;

struct Options {
  std::vector<unsigned> formats;
  std::vector<unsigned> rates;
  std::uint64_t speed = 1;
  std::string record;
  bool busy = false;
  std::uint64_t stallAfter = kNever;
  std::uint64_t underrunAfter = kNever;
  unsigned periodBytesMin = 64;
  unsigned periodBytesMax = 8U << 20;
  unsigned bufferBytesMin = 128;
  unsigned bufferBytesMax = 32U << 20;
  unsigned periodsMin = 2;
  unsigned periodsMax = 32;
};

// Appends whole buffers to a file opened for appending; a file that could not be opened is
// skipped silently (the test then finds it missing).
void WriteAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (fd >= 0 && size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

class Device {
 public:
  explicit Device(Options options) : options_(std::move(options)) {}
  ~Device() {
    if (eventFd_ >= 0) ::close(eventFd_);
    if (recordFd_ >= 0) ::close(recordFd_);
    if (logFd_ >= 0) ::close(logFd_);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  snd_pcm_ioplug_t io{};

  int Open(const char* name, snd_pcm_stream_t stream, int mode);
  void LogBusy() {
    OpenFiles();
    Log("busy", NowNs());
  }

  // The ioplug callbacks.
  int HwParams();
  int SwParams(snd_pcm_sw_params_t* params);
  int Prepare();
  int Start();
  int Stop();
  snd_pcm_sframes_t Pointer();
  snd_pcm_sframes_t Transfer(const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                             snd_pcm_uframes_t size);
  int Drain();
  int PollRevents(pollfd* fds, unsigned nfds, unsigned short* revents);
  void Close();

 private:
  void OpenFiles();
  void Log(const char* word, std::uint64_t value) {
    char line[64];
    const int n =
        std::snprintf(line, sizeof line, "%s %llu\n", word, static_cast<unsigned long long>(value));
    WriteAll(logFd_, line, static_cast<std::size_t>(n));
  }
  void Log(const char* word, const char* value) {
    const std::string line = std::string(word) + " " + value + "\n";
    WriteAll(logFd_, line.data(), line.size());
  }
  // The pacing thread: consumes a period at each deadline until told to stop.
  void Pace(std::uint64_t startNs);
  void ConsumePeriod();
  // Starts the pacing thread from now; the mutex is held.
  void StartPacer();
  // Stops and joins the pacing thread; `lock` is released while joining.
  void StopPacer(std::unique_lock<std::mutex>& lock);
  std::uint64_t Room() const { return bufferFrames_ - (written_ - consumed_); }
  // Makes the poll descriptor readable exactly when the application has something to do.
  void UpdateReadable();

  const Options options_;
  int eventFd_ = -1;
  int recordFd_ = -1;
  int logFd_ = -1;

  std::mutex mutex_;
  std::condition_variable wake_;      // to the pacing thread: stop
  std::condition_variable progress_;  // to a drain: frames were consumed, or the stream ended
  std::thread pacer_;
  bool stopRequested_ = false;
  bool running_ = false;

  std::uint64_t frameBytes_ = 0;
  std::uint64_t periodFrames_ = 0;
  std::uint64_t bufferFrames_ = 0;
  unsigned rate_ = 0;
  std::vector<unsigned char> ring_;
  std::uint64_t availMin_ = 1;
  std::uint64_t stopThreshold_ = 0;
  std::uint64_t boundary_ = 0;

  std::uint64_t written_ = 0;   // frames transferred since prepare
  std::uint64_t consumed_ = 0;  // frames played since prepare
  std::uint64_t total_ = 0;     // frames played since open
  unsigned underruns_ = 0;
  bool firstLogged_ = false;
  bool draining_ = false;
  bool xrun_ = false;
  bool injected_ = false;
  bool stalled_ = false;
  bool readable_ = false;
};

Device* Of(snd_pcm_ioplug_t* io) { return static_cast<Device*>(io->private_data); }

int CbStart(snd_pcm_ioplug_t* io) { return Of(io)->Start(); }
int CbStop(snd_pcm_ioplug_t* io) { return Of(io)->Stop(); }
snd_pcm_sframes_t CbPointer(snd_pcm_ioplug_t* io) { return Of(io)->Pointer(); }
snd_pcm_sframes_t CbTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                             snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  return Of(io)->Transfer(areas, offset, size);
}
int CbClose(snd_pcm_ioplug_t* io) {
  Device* device = Of(io);
  device->Close();
  delete device;
  return 0;
}
int CbHwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) { return Of(io)->HwParams(); }
int CbSwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params) {
  return Of(io)->SwParams(params);
}
int CbPrepare(snd_pcm_ioplug_t* io) { return Of(io)->Prepare(); }
int CbDrain(snd_pcm_ioplug_t* io) { return Of(io)->Drain(); }
int CbPollRevents(snd_pcm_ioplug_t* io, pollfd* fds, unsigned nfds, unsigned short* revents) {
  return Of(io)->PollRevents(fds, nfds, revents);
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
  snd_pcm_ioplug_callback_t c{};
  c.start = CbStart;
  c.stop = CbStop;
  c.pointer = CbPointer;
  c.transfer = CbTransfer;
  c.close = CbClose;
  c.hw_params = CbHwParams;
  c.sw_params = CbSwParams;
  c.prepare = CbPrepare;
  c.drain = CbDrain;
  c.poll_revents = CbPollRevents;
  return c;
}();

void Device::OpenFiles() {
  if (options_.record.empty() || logFd_ >= 0) return;
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
  recordFd_ = ::open(options_.record.c_str(), flags, 0644);
  logFd_ = ::open((options_.record + ".log").c_str(), flags, 0644);
}

int Device::Open(const char* name, snd_pcm_stream_t stream, int mode) {
  eventFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (eventFd_ < 0) return -errno;
  io.version = SND_PCM_IOPLUG_VERSION;
  io.name = "Lumaro test device";
  io.callback = &kCallbacks;
  io.private_data = this;
  io.poll_fd = eventFd_;
  io.poll_events = POLLIN;
  io.mmap_rw = 0;
  // The pointer counts up to ALSA's boundary rather than wrapping at the buffer size, so a whole
  // buffer played between two looks at it is not lost.
  io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA | SND_PCM_IOPLUG_FLAG_MONOTONIC;
  int err = snd_pcm_ioplug_create(&io, name, stream, mode);
  if (err < 0) return err;
  // Memory-mapped access too, as a card offers it: ALSA's converters write their output that way.
  const unsigned access[] = {SND_PCM_ACCESS_RW_INTERLEAVED, SND_PCM_ACCESS_MMAP_INTERLEAVED};
  const auto count = [](const std::vector<unsigned>& v) { return static_cast<unsigned>(v.size()); };
  if ((err = snd_pcm_ioplug_set_param_list(&io, SND_PCM_IOPLUG_HW_ACCESS, 2, access)) < 0 ||
      (err = snd_pcm_ioplug_set_param_list(&io, SND_PCM_IOPLUG_HW_FORMAT, count(options_.formats),
                                           options_.formats.data())) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&io, SND_PCM_IOPLUG_HW_CHANNELS, 2, 2)) < 0 ||
      (err = snd_pcm_ioplug_set_param_list(&io, SND_PCM_IOPLUG_HW_RATE, count(options_.rates),
                                           options_.rates.data())) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&io, SND_PCM_IOPLUG_HW_PERIOD_BYTES,
                                             options_.periodBytesMin, options_.periodBytesMax)) <
          0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&io, SND_PCM_IOPLUG_HW_BUFFER_BYTES,
                                             options_.bufferBytesMin, options_.bufferBytesMax)) <
          0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&io, SND_PCM_IOPLUG_HW_PERIODS, options_.periodsMin,
                                             options_.periodsMax)) < 0) {
    return err;
  }
  OpenFiles();
  Log("open", NowNs());
  return 0;
}

int Device::HwParams() {
  const int width = snd_pcm_format_physical_width(io.format);
  if (width <= 0 || width % 8 != 0 || io.channels != 2) return -EINVAL;
  std::unique_lock lock(mutex_);
  StopPacer(lock);
  frameBytes_ = static_cast<std::uint64_t>(width / 8) * io.channels;
  periodFrames_ = io.period_size;
  bufferFrames_ = io.buffer_size;
  rate_ = io.rate;
  ring_.assign(bufferFrames_ * frameBytes_, 0);
  availMin_ = periodFrames_;
  stopThreshold_ = bufferFrames_;
  // ALSA's own boundary, until the software parameters bring it: the largest power-of-two
  // multiple of the buffer size that stays below LONG_MAX less the buffer size.
  boundary_ = bufferFrames_;
  while (boundary_ * 2 <= static_cast<std::uint64_t>(LONG_MAX) - bufferFrames_) boundary_ *= 2;
  written_ = consumed_ = 0;
  const char* name = snd_pcm_format_name(io.format);
  Log("format", name != nullptr ? name : "?");
  Log("rate", rate_);
  Log("period", periodFrames_);
  Log("buffer", bufferFrames_);
  UpdateReadable();
  return 0;
}

int Device::SwParams(snd_pcm_sw_params_t* params) {
  snd_pcm_uframes_t availMin = 0, stopThreshold = 0, boundary = 0;
  snd_pcm_sw_params_get_avail_min(params, &availMin);
  snd_pcm_sw_params_get_stop_threshold(params, &stopThreshold);
  snd_pcm_sw_params_get_boundary(params, &boundary);
  std::lock_guard lock(mutex_);
  availMin_ = std::max<std::uint64_t>(availMin, 1);
  stopThreshold_ = stopThreshold;
  if (boundary > 0) boundary_ = boundary;
  UpdateReadable();
  return 0;
}

int Device::Prepare() {
  std::unique_lock lock(mutex_);
  StopPacer(lock);
  written_ = consumed_ = 0;
  xrun_ = false;
  draining_ = false;
  UpdateReadable();
  return 0;
}

int Device::Start() {
  std::unique_lock lock(mutex_);
  StopPacer(lock);
  if (periodFrames_ == 0) return -EBADFD;
  StartPacer();
  return 0;
}

void Device::StartPacer() {
  const std::uint64_t now = NowNs();
  Log("start", now);
  stopRequested_ = false;
  running_ = true;
  firstLogged_ = false;
  pacer_ = std::thread(&Device::Pace, this, now);
}

int Device::Stop() {
  std::unique_lock lock(mutex_);
  StopPacer(lock);
  draining_ = false;
  return 0;
}

void Device::StopPacer(std::unique_lock<std::mutex>& lock) {
  if (!pacer_.joinable()) return;
  stopRequested_ = true;
  wake_.notify_all();
  progress_.notify_all();
  std::thread pacer = std::move(pacer_);
  lock.unlock();
  pacer.join();  // the pacing thread waits only on `wake_`, so this returns at once
  lock.lock();
  running_ = false;
  Log("stop", NowNs());
}

void Device::Pace(std::uint64_t startNs) {
  std::unique_lock lock(mutex_);
  // The k-th deadline is start + k periods, computed from k so rounding never accumulates.
  const std::uint64_t perSecond = std::uint64_t{rate_} * options_.speed;
  const std::uint64_t numerator = periodFrames_ * 1'000'000'000U;
  const std::uint64_t whole = numerator / perSecond, rest = numerator % perSecond;
  for (std::uint64_t k = 1;; ++k) {
    const std::uint64_t deadline = startNs + k * whole + k * rest / perSecond;
    const std::chrono::steady_clock::time_point at{std::chrono::nanoseconds(deadline)};
    if (wake_.wait_until(lock, at, [this] { return stopRequested_; })) return;
    if (xrun_ || stalled_) {
      wake_.wait(lock, [this] { return stopRequested_; });
      return;
    }
    ConsumePeriod();
    progress_.notify_all();
  }
}

void Device::ConsumePeriod() {
  std::uint64_t limit = periodFrames_;
  if (options_.stallAfter != kNever) limit = std::min(limit, options_.stallAfter - total_);
  const bool injecting = options_.underrunAfter != kNever && !injected_;
  if (injecting) limit = std::min(limit, options_.underrunAfter - total_);
  const std::uint64_t n = std::min(limit, written_ - consumed_);
  // Played bytes go to the record in order, wrapping around the ring.
  const std::uint64_t at = consumed_ % bufferFrames_;
  const std::uint64_t first = std::min(n, bufferFrames_ - at);
  WriteAll(recordFd_, ring_.data() + at * frameBytes_, first * frameBytes_);
  WriteAll(recordFd_, ring_.data(), (n - first) * frameBytes_);
  consumed_ += n;
  total_ += n;
  if (n > 0 && !firstLogged_) {
    firstLogged_ = true;
    Log("first", NowNs());
  }
  if (injecting && total_ == options_.underrunAfter) {
    injected_ = true;
    xrun_ = true;
    ++underruns_;
    Log("xrun", total_);
  } else if (options_.stallAfter != kNever && total_ == options_.stallAfter) {
    stalled_ = true;
    Log("stall", total_);
  } else if (n < limit && !draining_) {
    // Ran dry: a real device stops with an xrun unless the stop threshold is out of reach.
    ++underruns_;
    if (stopThreshold_ < boundary_) {
      xrun_ = true;
      Log("xrun", total_);
    } else {
      Log("short", total_);
    }
  }
  UpdateReadable();
}

void Device::UpdateReadable() {
  const bool readable = xrun_ || (bufferFrames_ > 0 && Room() >= availMin_);
  if (readable == readable_) return;
  readable_ = readable;
  if (readable) {
    ::eventfd_write(eventFd_, 1);
  } else {
    eventfd_t value = 0;
    ::eventfd_read(eventFd_, &value);
  }
}

snd_pcm_sframes_t Device::Pointer() {
  std::lock_guard lock(mutex_);
  if (xrun_) return -EPIPE;
  return static_cast<snd_pcm_sframes_t>(consumed_ % boundary_);
}

snd_pcm_sframes_t Device::Transfer(const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                                   snd_pcm_uframes_t size) {
  // Interleaved frames: channel 0's area walks the whole frame.
  if (areas[0].step != frameBytes_ * 8 || areas[0].first % 8 != 0) return -EINVAL;
  const auto* from =
      static_cast<const unsigned char*>(areas[0].addr) + areas[0].first / 8 + offset * frameBytes_;
  std::lock_guard lock(mutex_);
  const std::uint64_t n = std::min<std::uint64_t>(size, Room());
  const std::uint64_t at = written_ % bufferFrames_;
  const std::uint64_t first = std::min(n, bufferFrames_ - at);
  std::memcpy(ring_.data() + at * frameBytes_, from, first * frameBytes_);
  std::memcpy(ring_.data(), from + first * frameBytes_, (n - first) * frameBytes_);
  written_ += n;
  UpdateReadable();
  return static_cast<snd_pcm_sframes_t>(n);
}

int Device::Drain() {
  // ALSA waits for the end of a drain by polling a descriptor that stays readable, so it would
  // spin; here the drain waits until everything written was played, and that wait finds it done.
  // A stream that has not started (less than its start threshold written) starts here: with a
  // drain callback ALSA leaves that to the plugin. A non-blocking stream polls by itself.
  std::unique_lock lock(mutex_);
  draining_ = true;
  if (!running_ && written_ > consumed_ && periodFrames_ > 0) StartPacer();
  if (io.nonblock || !running_) return 0;
  // Bounded: the frames still queued at the device's speed, and a second to spare.
  const std::uint64_t queuedMs =
      (written_ - consumed_) * 1000 / (std::uint64_t{rate_} * options_.speed) + 1000;
  const bool done = progress_.wait_for(lock, std::chrono::milliseconds(queuedMs), [this] {
    return consumed_ == written_ || xrun_ || stalled_ || stopRequested_;
  });
  // A stalled device never finishes: the drain fails as a stuck card's does.
  return done && !stalled_ ? 0 : -EIO;
}

int Device::PollRevents(pollfd* fds, unsigned nfds, unsigned short* revents) {
  if (nfds != 1 || fds[0].fd != eventFd_) return -EINVAL;
  std::lock_guard lock(mutex_);
  if (xrun_) {
    snd_pcm_ioplug_set_state(&io, SND_PCM_STATE_XRUN);
    *revents = POLLOUT | POLLERR;
  } else {
    *revents = Room() >= availMin_ ? POLLOUT : 0;
  }
  return 0;
}

void Device::Close() {
  std::unique_lock lock(mutex_);
  StopPacer(lock);
  Log("frames", total_);
  Log("underruns", underruns_);
  Log("close", NowNs());
}

// Reads an unsigned number field.
int GetNumber(snd_config_t* node, std::uint64_t* value) {
  long long number = 0;
  long small = 0;
  if (snd_config_get_integer(node, &small) >= 0) {
    number = small;
  } else if (snd_config_get_integer64(node, &number) < 0) {
    return -EINVAL;
  }
  if (number < 0) return -EINVAL;
  *value = static_cast<std::uint64_t>(number);
  return 0;
}

int GetSize(snd_config_t* node, unsigned* value) {
  std::uint64_t number = 0;
  if (GetNumber(node, &number) < 0 || number > UINT32_MAX) return -EINVAL;
  *value = static_cast<unsigned>(number);
  return 0;
}

// A list field: either a compound of values or one value.
template <typename Each>
int ForEachValue(snd_config_t* node, Each each) {
  if (snd_config_get_type(node) != SND_CONFIG_TYPE_COMPOUND) return each(node);
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, node) {
    const int err = each(snd_config_iterator_entry(i));
    if (err < 0) return err;
  }
  return 0;
}

int ParseOptions(snd_config_t* conf, Options* options) {
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* node = snd_config_iterator_entry(i);
    const char* id = nullptr;
    if (snd_config_get_id(node, &id) < 0) continue;
    const std::string key = id;
    int err = 0;
    if (key == "comment" || key == "type" || key == "hint") {
      continue;
    } else if (key == "formats") {
      err = ForEachValue(node, [&](snd_config_t* value) {
        const char* name = nullptr;
        if (snd_config_get_string(value, &name) < 0) return -EINVAL;
        const snd_pcm_format_t format = snd_pcm_format_value(name);
        if (format == SND_PCM_FORMAT_UNKNOWN) return -EINVAL;
        options->formats.push_back(static_cast<unsigned>(format));
        return 0;
      });
    } else if (key == "rates") {
      err = ForEachValue(node, [&](snd_config_t* value) {
        unsigned rate = 0;
        if (GetSize(value, &rate) < 0 || rate == 0) return -EINVAL;
        options->rates.push_back(rate);
        return 0;
      });
    } else if (key == "speed") {
      err = GetNumber(node, &options->speed);
      if (err == 0 && options->speed == 0) err = -EINVAL;
    } else if (key == "record") {
      const char* path = nullptr;
      err = snd_config_get_string(node, &path);
      if (err >= 0) options->record = path;
    } else if (key == "busy") {
      err = snd_config_get_bool(node);
      if (err >= 0) options->busy = err > 0;
    } else if (key == "stall_after") {
      err = GetNumber(node, &options->stallAfter);
    } else if (key == "underrun_after") {
      err = GetNumber(node, &options->underrunAfter);
    } else if (key == "period_bytes_min") {
      err = GetSize(node, &options->periodBytesMin);
    } else if (key == "period_bytes_max") {
      err = GetSize(node, &options->periodBytesMax);
    } else if (key == "buffer_bytes_min") {
      err = GetSize(node, &options->bufferBytesMin);
    } else if (key == "buffer_bytes_max") {
      err = GetSize(node, &options->bufferBytesMax);
    } else if (key == "periods_min") {
      err = GetSize(node, &options->periodsMin);
    } else if (key == "periods_max") {
      err = GetSize(node, &options->periodsMax);
    } else {
      SNDERR("lumarotest: unknown field %s", id);
      return -EINVAL;
    }
    if (err < 0) {
      SNDERR("lumarotest: invalid value of %s", id);
      return -EINVAL;
    }
  }
  if (options->formats.empty()) options->formats.push_back(SND_PCM_FORMAT_S16_LE);
  if (options->rates.empty()) options->rates.push_back(44100);
  return 0;
}

}  // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(lumarotest) {
  (void)root;
  Options options;
  int err = ParseOptions(conf, &options);
  if (err < 0) return err;
  if (stream != SND_PCM_STREAM_PLAYBACK) {
    SNDERR("lumarotest: %s plays only", name);
    return -EINVAL;
  }
  if (options.busy) {
    Device(options).LogBusy();
    return -EBUSY;
  }
  auto* device = new Device(std::move(options));
  err = device->Open(name, stream, mode);
  if (err < 0) {
    if (device->io.pcm != nullptr) {
      snd_pcm_ioplug_delete(&device->io);  // closes it, which deletes the device
    } else {
      delete device;
    }
    return err;
  }
  *pcmp = device->io.pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(lumarotest)

}  // extern "C"
