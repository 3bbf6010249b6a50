// The ALSA test device through plain ALSA calls: what it negotiates and records, how it paces
// and wakes a polling application, how it runs dry, and that it ends promptly. Its busy, stall
// and underrun modes are exercised by the playback tests.

#include <alsa/asoundlib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "tests/support/alsa_test_config.h"
#include "tests/support/audio_files.h"
#include "tests/support/watchdog.h"

namespace lumaro::testing {
namespace {

using ::testing::AnyOf;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Pair;
using Clock = std::chrono::steady_clock;

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmCloser>;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bytes that do not repeat with any period size.
Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  for (unsigned char& b : bytes) {
    seed = seed * 1664525U + 1013904223U;
    b = static_cast<unsigned char>(seed >> 24);
  }
  return bytes;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Stream {
  std::string format = "S16_LE";
  unsigned rate = 44100;
  snd_pcm_uframes_t period = 2205;
  unsigned periods = 4;
  // The stream starts when the buffer is full, and runs on when it runs dry when true.
  bool runsOnDry = false;
};

// Opens `name` with exactly the stream's format, rate and sizes; it starts when its buffer is full
// and wakes the application once a period of room is free.
Pcm OpenStream(const std::string& name, const Stream& s, int mode = 0) {
  snd_pcm_t* raw = nullptr;
  const int opened = snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_PLAYBACK, mode);
  EXPECT_EQ(opened, 0) << name << ": " << snd_strerror(opened);
  if (opened < 0) return nullptr;
  Pcm pcm(raw);
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  snd_pcm_uframes_t period = s.period, buffer = s.period * s.periods;
  const bool hwSet =
      snd_pcm_hw_params_any(raw, hw) >= 0 &&
      snd_pcm_hw_params_set_access(raw, hw, SND_PCM_ACCESS_RW_INTERLEAVED) == 0 &&
      snd_pcm_hw_params_set_format(raw, hw, snd_pcm_format_value(s.format.c_str())) == 0 &&
      snd_pcm_hw_params_set_channels(raw, hw, 2) == 0 &&
      snd_pcm_hw_params_set_rate(raw, hw, s.rate, 0) == 0 &&
      snd_pcm_hw_params_set_period_size(raw, hw, period, 0) == 0 &&
      snd_pcm_hw_params_set_buffer_size(raw, hw, buffer) == 0 && snd_pcm_hw_params(raw, hw) == 0;
  EXPECT_TRUE(hwSet) << name << " " << s.format << " " << s.rate;
  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  snd_pcm_uframes_t boundary = 0;
  const bool swSet =
      snd_pcm_sw_params_current(raw, sw) == 0 &&
      snd_pcm_sw_params_get_boundary(sw, &boundary) == 0 &&
      snd_pcm_sw_params_set_start_threshold(raw, sw, buffer) == 0 &&
      snd_pcm_sw_params_set_avail_min(raw, sw, period) == 0 &&
      snd_pcm_sw_params_set_stop_threshold(raw, sw, s.runsOnDry ? boundary : buffer) == 0 &&
      snd_pcm_sw_params(raw, sw) == 0;
  EXPECT_TRUE(swSet) << name;
  return hwSet && swSet ? std::move(pcm) : nullptr;
}

// Waits until `done` holds, at most `seconds`; answers whether it held.
bool WaitFor(const std::function<bool()>& done, double seconds) {
  const Clock::time_point begin = Clock::now();
  while (!done()) {
    if (SecondsSince(begin) > seconds) return false;
    ::poll(nullptr, 0, 1);
  }
  return true;
}

// What a write loop did.
struct Written {
  snd_pcm_uframes_t frames = 0;
  int error = 0;           // the error that ended it
  bool pollError = false;  // the descriptors' events reported that error
  int wakes = 0;           // polls that returned before their time-out
};

// Writes all of `bytes`. `polled`: to a PCM opened non-blocking, as a polling application does —
// a write, then a poll of the descriptors and their events, -ETIMEDOUT when nothing could be
// written for `timeoutMs`; otherwise blocking writes.
Written Write(snd_pcm_t* pcm, const Bytes& bytes, bool polled, int timeoutMs = 1000) {
  const auto frameBytes = static_cast<unsigned>(snd_pcm_frames_to_bytes(pcm, 1));
  std::vector<pollfd> fds(static_cast<std::size_t>(snd_pcm_poll_descriptors_count(pcm)));
  const auto count = static_cast<unsigned>(fds.size());
  snd_pcm_poll_descriptors(pcm, fds.data(), count);
  const snd_pcm_uframes_t frames = bytes.size() / frameBytes;
  Written w;
  Clock::time_point progress = Clock::now();
  while (w.frames < frames && w.error == 0) {
    const snd_pcm_sframes_t n =
        snd_pcm_writei(pcm, bytes.data() + w.frames * frameBytes, frames - w.frames);
    if (n < 0 && n != -EAGAIN) {
      w.error = static_cast<int>(n);
    } else if (n > 0) {
      w.frames += static_cast<snd_pcm_uframes_t>(n);
      progress = Clock::now();
    }
    if (!polled || w.frames == frames || w.error != 0) continue;
    if (::poll(fds.data(), count, timeoutMs) <= 0 || SecondsSince(progress) * 1000 > timeoutMs) {
      w.error = -ETIMEDOUT;
      continue;
    }
    ++w.wakes;
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm, fds.data(), count, &revents);
    if ((revents & POLLERR) != 0) {
      w.pollError = true;
      w.error = snd_pcm_state(pcm) == SND_PCM_STATE_XRUN ? -EPIPE : -EIO;
    }
  }
  return w;
}

// The session of the device's only open.
AlsaTestSession OnlySession(std::u16string_view record) {
  const AlsaTestLog log = ReadAlsaTestLog(record);
  EXPECT_EQ(log.sessions.size(), 1U);
  EXPECT_TRUE(log.unknown.empty());
  return log.sessions.empty() ? AlsaTestSession{} : log.sessions[0];
}

class AlsaTestDeviceTest : public ::testing::Test {
 protected:
  // A fresh record file for each case.
  std::u16string Record() { return dir_.File(platform::Utf8ToUtf16(std::to_string(++records_))); }
  TempDir dir_;
  int records_ = 0;
  Watchdog watchdog_{std::chrono::seconds(10)};
};

TEST_F(AlsaTestDeviceTest, NegotiatesExactlyTheConfiguredFormatsAndRates) {
  const std::vector<std::string> allFormats = {"S16_LE",   "S24_3LE",    "S32_LE",    "S24_LE",
                                               "FLOAT_LE", "S16_BE",     "S24_3BE",   "S32_BE",
                                               "DSD_U8",   "DSD_U16_BE", "DSD_U32_BE"};
  const std::vector<unsigned> allRates = {44100,  48000,  88200,  96000, 176400,
                                          192000, 352800, 705600, 768000};
  struct Case {
    std::vector<std::string> formats;
    std::vector<unsigned> rates;
  } const cases[] = {
      {{"S16_LE", "S24_3LE", "S32_LE"}, {44100, 48000, 96000}},
      {{"S24_LE", "FLOAT_LE", "S16_BE", "S24_3BE", "S32_BE"}, {192000, 768000}},
      {{"DSD_U8", "DSD_U16_BE", "DSD_U32_BE"}, {88200, 176400, 705600}},
  };
  const auto listed = [](const auto& list, const auto& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
  };
  for (const Case& c : cases) {
    AlsaTestConfig config(dir_.Path(), {{.name = "dev", .formats = c.formats, .rates = c.rates}});
    snd_pcm_t* raw = nullptr;
    ASSERT_EQ(snd_pcm_open(&raw, "dev", SND_PCM_STREAM_PLAYBACK, 0), 0);
    const Pcm pcm(raw);
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    ASSERT_GE(snd_pcm_hw_params_any(raw, hw), 0);
    for (const std::string& format : allFormats) {
      EXPECT_EQ(snd_pcm_hw_params_test_format(raw, hw, snd_pcm_format_value(format.c_str())) == 0,
                listed(c.formats, format))
          << format;
    }
    for (const unsigned rate : allRates) {
      EXPECT_EQ(snd_pcm_hw_params_test_rate(raw, hw, rate, 0) == 0, listed(c.rates, rate)) << rate;
    }
    EXPECT_EQ(snd_pcm_hw_params_test_channels(raw, hw, 2), 0);
    EXPECT_NE(snd_pcm_hw_params_test_channels(raw, hw, 1), 0);
    EXPECT_EQ(snd_pcm_hw_params_test_access(raw, hw, SND_PCM_ACCESS_MMAP_INTERLEAVED), 0);
    EXPECT_NE(snd_pcm_hw_params_test_access(raw, hw, SND_PCM_ACCESS_RW_NONINTERLEAVED), 0);
  }
}

TEST_F(AlsaTestDeviceTest, RecordsThePlayedBytesExactly) {
  // Periods of 40 ms played at 4 times the speed; 5.5 periods, so the drain plays half of one.
  // 1.5 periods never reach the start threshold (the buffer): the drain starts them.
  struct Case {
    const char* pcm;  // how the device is reached
    Stream stream;
    snd_pcm_uframes_t halfPeriods = 11;
  } const cases[] = {
      {"dev", {.format = "S16_LE", .rate = 44100, .period = 1764}},
      {"dev", {.format = "S24_3LE", .rate = 96000, .period = 3840}},
      {"dev", {.format = "FLOAT_LE", .rate = 48000, .period = 1920}},
      {"dev", {.format = "DSD_U8", .rate = 352800, .period = 14112}},
      {"dev", {.format = "DSD_U32_BE", .rate = 88200, .period = 3528}},
      {"plug:'dev'", {.format = "S16_LE", .rate = 44100, .period = 1764}},
      {"plug:dev", {.format = "DSD_U32_BE", .rate = 88200, .period = 3528}},
      {"dev", {.format = "S32_LE", .rate = 44100, .period = 1764}, 3},
  };
  for (const Case& c : cases) {
    const std::u16string record = Record();
    const Stream& s = c.stream;
    AlsaTestConfig config(
        dir_.Path(),
        {{.name = "dev", .formats = {s.format}, .rates = {s.rate}, .speed = 4, .record = record}});
    const snd_pcm_uframes_t frames = s.period * c.halfPeriods / 2;
    Bytes played;
    {
      const Pcm pcm = OpenStream(c.pcm, s);
      ASSERT_TRUE(pcm);
      played =
          Pattern(static_cast<std::size_t>(snd_pcm_frames_to_bytes(pcm.get(), frames)), frames);
      EXPECT_EQ(Write(pcm.get(), played, false).frames, frames);
      EXPECT_EQ(snd_pcm_drain(pcm.get()), 0);
    }
    EXPECT_TRUE(ReadAlsaRecord(record) == played) << c.pcm << " " << s.format;
    const AlsaTestSession o = OnlySession(record);
    EXPECT_EQ(
        std::tuple(o.format, o.rate, o.period, o.buffer, o.frames, o.startNs.size(), o.underruns),
        std::tuple(s.format, s.rate, s.period, s.period * 4, frames, 1U, 0U))
        << c.pcm << " " << s.format;
  }
}

TEST_F(AlsaTestDeviceTest, PlaysInRealTimeOrItsMultiple) {
  // 0.5 s of sound in 50 ms periods; the first period is played one period after the start.
  for (const unsigned speed : {1U, 10U}) {
    const std::u16string record = Record();
    AlsaTestConfig config(dir_.Path(), {{.name = "dev", .speed = speed, .record = record}});
    const double expected = 0.5 / speed, period = 0.05 / speed;
    const Clock::time_point begin = Clock::now();
    {
      const Pcm pcm = OpenStream("dev", Stream{});
      ASSERT_TRUE(pcm);
      ASSERT_EQ(Write(pcm.get(), Bytes(22050 * 4), false).frames, 22050U);
      EXPECT_EQ(snd_pcm_drain(pcm.get()), 0);
      EXPECT_GE(SecondsSince(begin), expected - 0.001) << speed;
      EXPECT_LE(SecondsSince(begin), expected + 0.1) << speed;  // a loaded machine wakes late
    }
    const AlsaTestSession s = OnlySession(record);
    ASSERT_TRUE(s.startNs.size() == 1 && s.firstNs.size() == 1 && !s.stopNs.empty());
    const auto ns = [](double seconds) { return static_cast<std::uint64_t>(seconds * 1e9); };
    EXPECT_GE(s.firstNs[0] - s.startNs[0], ns(period)) << speed;
    EXPECT_LE(s.firstNs[0] - s.startNs[0], ns(period + 0.01)) << speed;
    // The last period ends ten periods after the start: the deadlines do not drift.
    EXPECT_GE(s.stopNs[0] - s.startNs[0], ns(expected)) << speed;
  }
}

TEST_F(AlsaTestDeviceTest, PollWakesOncePerPeriod) {
  // 50 ms periods played in 10 ms. The first write fills the buffer and starts the stream; each
  // wake then finds one period of room.
  for (const char* name : {"dev", "plug:dev"}) {
    AlsaTestConfig config(dir_.Path(), {{.name = "dev", .speed = 5}});
    const Pcm pcm = OpenStream(name, Stream{}, SND_PCM_NONBLOCK);
    ASSERT_TRUE(pcm);
    const Clock::time_point begin = Clock::now();
    const Written w = Write(pcm.get(), Bytes(2205 * 16 * 4), true, 300);
    EXPECT_EQ(w.error, 0) << name;
    EXPECT_GE(w.wakes, 12) << name;
    EXPECT_LE(w.wakes, 13) << name;
    EXPECT_NEAR(SecondsSince(begin), 0.12, 0.02) << name;
  }
}

TEST_F(AlsaTestDeviceTest, RunningDryIsAnXrunUnlessTheStopThresholdIsOutOfReach) {
  // 50 ms periods played in 25 ms, two in the buffer. Two periods and then nothing: the third
  // period finds the buffer empty.
  const auto dry = [](const std::u16string& record, std::size_t shorts) {
    return [&record, shorts] {
      const AlsaTestSession s = ReadAlsaTestLog(record).sessions.back();
      return !s.xruns.empty() || s.shorts.size() >= shorts;
    };
  };
  for (const bool runsOnDry : {false, true}) {
    const std::u16string record = Record();
    AlsaTestConfig config(dir_.Path(), {{.name = "dev", .speed = 2, .record = record}});
    Pcm pcm = OpenStream("dev", Stream{.periods = 2, .runsOnDry = runsOnDry});
    ASSERT_TRUE(pcm);
    const Bytes a = Pattern(2205 * 2 * 4, 5);
    ASSERT_EQ(Write(pcm.get(), a, false).frames, 2205U * 2);
    ASSERT_TRUE(WaitFor(dry(record, 1), 1.0));
    const snd_pcm_sframes_t avail = snd_pcm_avail(pcm.get());
    if (!runsOnDry) {
      EXPECT_EQ(std::tuple(avail, snd_pcm_state(pcm.get())),
                std::tuple(-EPIPE, SND_PCM_STATE_XRUN));
      EXPECT_THAT(ReadAlsaTestLog(record).sessions.back().xruns, ElementsAre(2205 * 2));
      continue;
    }
    EXPECT_EQ(std::tuple(avail, snd_pcm_state(pcm.get())),
              std::tuple(2205 * 2, SND_PCM_STATE_RUNNING));
    // It waits for data: a period and a half leave it playing from the middle of its buffer, so
    // the next data is played across the buffer's end.
    const Bytes b = Pattern(3307 * 4, 6), c = Pattern(2205 * 2 * 4, 7);
    ASSERT_EQ(Write(pcm.get(), b, false).frames, 3307U);
    ASSERT_TRUE(WaitFor(dry(record, 2), 1.0));
    ASSERT_EQ(Write(pcm.get(), c, false).frames, 2205U * 2);
    EXPECT_EQ(snd_pcm_drain(pcm.get()), 0);
    pcm.reset();
    EXPECT_TRUE(ReadAlsaRecord(record) == Cat(Cat(a, b), c));
    // A period that passes before the test writes again is short once more, at the same count.
    const AlsaTestSession s = OnlySession(record);
    ASSERT_GE(s.shorts.size(), 2U);
    EXPECT_EQ(std::tuple(s.shorts.front(), s.shorts.back()), std::tuple(4410U, 4410U + 3307));
    EXPECT_THAT(s.shorts, Each(AnyOf(4410U, 4410U + 3307)));
    EXPECT_EQ(std::tuple(s.underruns, s.xruns.size()), std::tuple(s.shorts.size(), 0U));
  }
}

TEST_F(AlsaTestDeviceTest, EndsPromptlyHoweverTheApplicationLeaves) {
  // After open, after the set-up, or with a full buffer (200 ms in real time) playing: closing,
  // dropping or preparing again does not wait for the buffer to play.
  const std::function<void(snd_pcm_t*)> ends[] = {
      nullptr, [](snd_pcm_t*) {}, [](snd_pcm_t* pcm) { EXPECT_EQ(snd_pcm_drop(pcm), 0); },
      [](snd_pcm_t* pcm) { EXPECT_EQ(snd_pcm_prepare(pcm), 0); }};
  for (const auto& end : ends) {
    const std::u16string record = Record();
    AlsaTestConfig config(dir_.Path(), {{.name = "dev", .record = record}});
    const Clock::time_point begin = Clock::now();
    snd_pcm_t* raw = nullptr;
    if (!end) {
      ASSERT_EQ(snd_pcm_open(&raw, "dev", SND_PCM_STREAM_PLAYBACK, 0), 0);
      EXPECT_EQ(snd_pcm_close(raw), 0);
    } else {
      Pcm pcm = OpenStream("dev", Stream{});
      ASSERT_TRUE(pcm);
      ASSERT_EQ(Write(pcm.get(), Bytes(2205 * 4 * 4), false).frames, 2205U * 4);
      EXPECT_EQ(snd_pcm_state(pcm.get()), SND_PCM_STATE_RUNNING);
      end(pcm.get());
    }
    EXPECT_LT(SecondsSince(begin), 0.15);
    const AlsaTestSession s = OnlySession(record);
    EXPECT_TRUE(s.closeNs.has_value());
    EXPECT_LT(s.frames, 2205U * 4);
  }
}

}  // namespace
}  // namespace lumaro::testing
