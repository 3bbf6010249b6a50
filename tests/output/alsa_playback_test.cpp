// Whole playbacks through the ALSA backends to the paced test device: files written by the test,
// the player's own steps, and the bytes and events the device recorded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "app/driver_lists.h"
#include "app/init_settings.h"
#include "app/player_steps.h"
#include "dsp/bit_reverse.h"
#include "platform/alsa/alsa_drivers.h"
#include "platform/alsa/alsa_endpoints.h"
#include "platform/text.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/alsa_test_config.h"
#include "tests/support/process.h"
#include "tests/support/string_list.h"

namespace lumaro::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// The test device runs this many times faster than real time, so the 3 s lead-in takes 150 ms.
constexpr unsigned kFast = 20;
constexpr std::uint32_t kOutliveMs = 5000;

class AlsaPlaybackTest : public EngineTest {
 protected:
  AlsaPlaybackTest() {
    steps_ = app::PlayerSteps();
    app_.PlayOnce = 1;
    services_.clock = &platform::SystemClock();
    services_.driverProbe.running = &probes_;
    options_.report = [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(reportsMutex_);
      reports_.push_back(line);
    };
  }
  void TearDown() override { ASSERT_TRUE(probes_.WaitForNone(kOutliveMs)); }

  // Makes `devices` ALSA's only devices (each recording into "<name>.raw" unless it says where)
  // and plays through them.
  void Use(std::vector<AlsaTestDevice> devices) {
    for (AlsaTestDevice& d : devices) {
      if (d.record.empty()) d.record = dir_.File(platform::Utf8ToUtf16(d.name + ".raw"));
      for (const char* suffix : {"", ".log"})  // each case reads only what it played
        std::filesystem::remove(platform::Utf16ToUtf8(d.record) + suffix);
    }
    config_.reset();
    config_ = std::make_unique<AlsaTestConfig>(dir_.Path(), std::move(devices));
    endpoints_ = std::make_unique<platform::alsa::AlsaEndpointSystem>(options_);
    drivers_ = std::make_unique<platform::alsa::AlsaDriverRegistry>(options_);
    services_.endpoints = endpoints_.get();
    services_.drivers = drivers_.get();
  }
  std::u16string Record(const char* name) const {
    return dir_.File(platform::Utf8ToUtf16(std::string(name) + ".raw"));
  }
  std::vector<std::string> Reports() {
    std::lock_guard<std::mutex> lock(reportsMutex_);
    return reports_;
  }

  TempDir dir_;
  platform::ThreadCount probes_;
  platform::alsa::AlsaOptions options_;
  std::unique_ptr<AlsaTestConfig> config_;
  std::unique_ptr<platform::alsa::AlsaEndpointSystem> endpoints_;
  std::unique_ptr<platform::alsa::AlsaDriverRegistry> drivers_;
  std::mutex reportsMutex_;
  std::vector<std::string> reports_;
};

// The paced device "dac" ("DAC") taking `formats` at `rates`, as most cases use it.
AlsaTestDevice Dac(std::vector<std::string> formats, std::vector<unsigned> rates) {
  return {.name = "dac", .description = "DAC", .formats = formats, .rates = rates, .speed = kFast};
}

// The device's session that played: its last one that started (the others asked what it takes).
AlsaTestSession Played(const AlsaTestLog& log) {
  for (auto s = log.sessions.rbegin(); s != log.sessions.rend(); ++s) {
    if (!s->startNs.empty()) return *s;
  }
  ADD_FAILURE() << "the device never started";
  return {};
}

// Whether `needle` appears in `haystack` as one run.
bool HoldsRun(const Bytes& haystack, const Bytes& needle) {
  return !needle.empty() && std::search(haystack.begin(), haystack.end(), needle.begin(),
                                        needle.end()) != haystack.end();
}

// `value` (a full-scale fraction) as `bits`-bit little-endian integer bytes, as the player
// rounds it.
void PutScaled(Bytes& out, double value, int bits, int containerBits) {
  const double full = std::ldexp(1.0, bits - 1) - 1;
  const auto v = static_cast<std::int64_t>(std::nearbyint(value * full));
  for (int k = 0; k < containerBits - bits; k += 8) out.push_back(0);
  for (int k = 0; k < bits; k += 8) out.push_back(static_cast<std::uint8_t>(v >> k));
}

TEST_F(AlsaPlaybackTest, DevicesAreListedInHintOrderAndDriversAreThoseTakingDsd) {
  Use({{.name = "dac",
        .description = "Test DAC",
        .formats = {"S16_LE", "S32_LE", "DSD_U32_BE"},
        .rates = {44100, 48000, 88200, 176400}},
       {.name = "default", .description = "An alias"},
       {.name = "pcmdac", .description = "PCM DAC", .formats = {"S24_3LE"}, .rates = {48000}},
       {.name = "held", .description = "Held DAC", .busy = true}});
  app_.AsioSupport = 1;
  (void)app::InitSettings(app_, u"/nowhere/lumaro");
  EXPECT_THAT(Entries(app_.DeviceList.get()),
              ElementsAreArray({u"W: Test DAC", u"W: PCM DAC", u"W: Held DAC", u"A: Test DAC"}));
  EXPECT_THAT(
      Entries(app::AsioRates(app_, u"Test DAC").get()),
      ElementsAreArray({u"Auto", u"44100", u"48000", u"88200", u"176400", u"D64", u"D128"}));
  // Exclusive rates are the ones the device takes exactly; "Share" goes through the converter.
  const std::vector<std::u16string> rates = Entries(app::RatesOfDevice(app_, u"W: PCM DAC").get());
  EXPECT_THAT(rates, Contains(u"48000"));
  EXPECT_THAT(rates, Not(Contains(u"44100")));
}

TEST_F(AlsaPlaybackTest, ExclusivePcmReachesTheDeviceExactlyOrThroughTheLadder) {
  const std::vector<std::int64_t> samples = {8388607, -8388608, 1, -1, 4194304, -3, 0, 12345};
  const std::u16string wav = dir_.Write(u"a.wav", MakeWav({.bits = 24}, PackLe(samples, 24)));
  struct Case {
    const char* format;
    unsigned rate;
    const char16_t* resample;
    const char16_t* playing;
    int bits;  // of the exact bytes checked; 0: not checked
  };
  // "Share" goes through the converter at the mixer's rate.
  const Case kCases[] = {
      {"S24_3LE", 44100, u"Auto", u"Decode: 24bit 44100Hz - Out: 24/24bit 44100Hz", 24},
      {"S32_LE", 44100, u"Auto", u"Decode: 24bit 44100Hz - Out: 32/32bit 44100Hz", 32},
      {"S16_LE", 48000, u"Auto", u"Decode: 24bit 44100Hz - Out: 16/16bit 48000Hz", 0},
      {"S32_LE", 48000, u"Share", u"Decode: 24bit 44100Hz - Out: 32/32bit float 48000Hz", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf8(c.playing));
    Use({Dac({c.format}, {c.rate})});
    ASSERT_EQ(Play({wav}, u"W: DAC", c.resample), kOk) << Utf8(window_.Text(2003));
    EXPECT_THAT(Statuses(), Contains(c.playing));
    const AlsaTestSession played = Played(ReadAlsaTestLog(Record("dac")));
    EXPECT_EQ(played.format, c.format);
    EXPECT_EQ(played.rate, c.rate);
    if (c.bits == 0) continue;
    Bytes expected;
    for (const std::int64_t s : samples)
      PutScaled(expected, s / 8388608.0, c.bits == 32 ? 32 : 24, c.bits);
    EXPECT_TRUE(HoldsRun(ReadAlsaRecord(Record("dac")), expected));
  }
}

// A DSD64 file as DoP: the DAC gets the 1-bit bytes most significant bit first under markers
// that alternate through the whole stream, the idle lead-in included.
TEST_F(AlsaPlaybackTest, DsdPlaysAsDopWithItsBytesUnderAlternatingMarkers) {
  Bytes left(4096), right(4096);
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = static_cast<unsigned char>(i * 7 + 1);
    right[i] = static_cast<unsigned char>(i * 13 + 5);
  }
  const std::u16string dsf = dir_.Write(u"a.dsf", MakeDsf({}, {left, right}));
  Use({Dac({"S32_LE"}, {176400})});
  ASSERT_EQ(Play({dsf}, u"W: DAC", u"Auto"), kOk) << Utf8(window_.Text(2003));
  EXPECT_THAT(Statuses(), Contains(u"Decode: 1bit 2822400Hz - Out: 24/32bit 176400Hz DoP"));
  Bytes dop;
  for (std::size_t f = 0; f < left.size() / 2; ++f) {
    for (const Bytes* channel : {&left, &right}) {
      dop.insert(dop.end(), {0, dsp::kBitReversed[(*channel)[2 * f + 1]],
                             dsp::kBitReversed[(*channel)[2 * f]]});
      dop.push_back(f % 2 == 0 ? 0x05 : 0xFA);
    }
  }
  const Bytes played = ReadAlsaRecord(Record("dac"));
  EXPECT_TRUE(HoldsRun(played, dop));
  ASSERT_GE(played.size(), 8U);
  const std::uint8_t first = played[3];
  for (std::size_t f = 0; f < played.size() / 8; ++f) {
    const std::uint8_t marker = (first == 0x05) == (f % 2 == 0) ? 0x05 : 0xFA;
    ASSERT_EQ(played[f * 8 + 3], marker) << f;
    ASSERT_EQ(played[f * 8 + 7], marker) << f;
  }
}

// Through the driver family: native DSD in the device's 1-bit format (eight, sixteen or
// thirty-two bits of a channel per frame, earliest bit first), and PCM as the device's own 32-bit
// samples.
TEST_F(AlsaPlaybackTest, TheDriverPlaysNativeDsdAndPcmInTheDevicesFrames) {
  Bytes left(8192), right(8192);
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = static_cast<unsigned char>(i * 3 + 7);
    right[i] = static_cast<unsigned char>(i * 11 + 2);
  }
  const std::u16string dsf = dir_.Write(u"a.dsf", MakeDsf({.rate = 5644800}, {left, right}));
  const std::vector<std::int64_t> samples = {16384, -16384, 1, -1, 32767, -32768, 0, 1234};
  const std::u16string wav = dir_.Write(u"a.wav", MakeWav({}, PackLe(samples, 16)));
  struct Case {
    const char* format;
    unsigned frameRate;
    std::u16string track;
    const char16_t* playing;
    std::size_t sampleBytes;
  };
  const Case kCases[] = {
      {"DSD_U32_BE", 176400, dsf, u"Decode: 1bit 5644800Hz - Out: 1bit 5644800Hz DSD", 4},
      {"DSD_U8", 705600, dsf, u"Decode: 1bit 5644800Hz - Out: 1bit 5644800Hz DSD", 1},
      {"DSD_U16_BE", 352800, dsf, u"Decode: 1bit 5644800Hz - Out: 1bit 5644800Hz DSD", 2},
      {"S32_LE", 44100, wav, u"Decode: 16bit 44100Hz - Out: 32/32bit 44100Hz", 4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.format);
    Use({Dac({"S32_LE", "DSD_U8", c.format}, {44100, c.frameRate})});
    ASSERT_EQ(Play({c.track}, u"A: DAC", u"Auto"), kOk) << Utf8(window_.Text(2003));
    EXPECT_THAT(Statuses(), Contains(c.playing));
    const AlsaTestSession played = Played(ReadAlsaTestLog(Record("dac")));
    EXPECT_EQ(played.format, c.format);
    EXPECT_EQ(played.rate, c.frameRate);
    Bytes expected;
    if (c.track == dsf) {
      for (std::size_t at = 0; at < left.size(); at += c.sampleBytes) {
        for (const Bytes* channel : {&left, &right}) {
          for (std::size_t k = 0; k < c.sampleBytes; ++k)
            expected.push_back(dsp::kBitReversed[(*channel)[at + k]]);
        }
      }
    } else {
      for (const std::int64_t s : samples) PutScaled(expected, s / 32768.0, 32, 32);
    }
    EXPECT_TRUE(HoldsRun(ReadAlsaRecord(Record("dac")), expected));
  }
}

// A held device, a device that stops taking data, and one that runs dry once.
TEST_F(AlsaPlaybackTest, BusyStalledAndUnderrunDevicesAreToldApart) {
  const std::u16string wav =
      dir_.Write(u"a.wav", MakeWav({}, PackLe(std::vector<std::int64_t>(2 * 44100, 100), 16)));
  struct Case {
    AlsaTestDevice device;
    const char16_t* deviceName;
    Result result;
    const char16_t* text;  // the status line at the end
    std::size_t reports;
  };
  const Case kCases[] = {
      {{.busy = true}, u"W: DAC", 1, u"DEVICE ERROR: Initialize failed", 0},
      {{.busy = true}, u"A: DAC", 1, u"DEVICE ERROR: device not available", 0},
      {{.stallAfter = 44100}, u"W: DAC", 1, u"ERROR: WaitForSingleObject failed", 0},
      {{.stallAfter = 44100}, u"A: DAC", 1, u"ERROR: WaitForSingleObject failed", 0},
      {{.underrunAfter = 44100}, u"W: DAC", kOk, u"", 1},
      {{.underrunAfter = 44100}, u"A: DAC", kOk, u"", 1},
  };
  for (const Case& c : kCases) {
    AlsaTestDevice device = Dac({"S16_LE", "S32_LE", "DSD_U8"}, {44100, 352800});
    device.busy = c.device.busy;
    device.stallAfter = c.device.stallAfter;
    device.underrunAfter = c.device.underrunAfter;
    SCOPED_TRACE(Utf8(c.text) + " " + Utf8(c.deviceName));
    Use({device});
    reports_.clear();
    const auto begin = std::chrono::steady_clock::now();
    const Result result = Play({wav}, c.deviceName, u"44100");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_EQ(result == kOk, c.result == kOk);
    EXPECT_EQ(window_.Text(2003), c.text);
    if (c.device.stallAfter) {
      EXPECT_GE(seconds, 2.0);  // the player's wait for the device
    }
    const auto failed = app_.Failures.TakeFailed();
    if (c.device.busy && c.deviceName[0] == u'W') {
      ASSERT_FALSE(failed.empty());
      EXPECT_THAT(platform::FormatFailureChain(failed.back().chain),
                  HasSubstr("device in use by another program"));
    }
    EXPECT_EQ(Reports().size(), c.reports);
    if (c.reports != 0) {
      EXPECT_THAT(Reports()[0], HasSubstr("underrun"));
    }
  }
}

// The last frames of a track sound before the device is stopped, whatever ring the device
// settles on (two periods, or more when its limits ask for them).
TEST_F(AlsaPlaybackTest, TheTracksLastFramesSoundWhateverTheDevicesRing) {
  std::vector<std::int64_t> samples;  // a frame's value tells where it is
  for (std::int64_t f = 0; f < 44100; ++f) samples.insert(samples.end(), {f % 16000, -(f % 9000)});
  const std::u16string wav = dir_.Write(u"a.wav", MakeWav({}, PackLe(samples, 16)));
  constexpr std::size_t kLastFrames = 64;
  for (const unsigned periods : {2U, 4U}) {
    for (const char16_t* device : {u"W: DAC", u"A: DAC"}) {
      SCOPED_TRACE(Utf8(device) + " " + std::to_string(periods));
      AlsaTestDevice dac = Dac({"S16_LE", "S32_LE", "DSD_U8"}, {44100, 352800});
      dac.periodsMin = periods;
      Use({dac});
      ASSERT_EQ(Play({wav}, device, u"44100"), kOk) << Utf8(window_.Text(2003));
      Bytes tail;  // both families choose 32-bit samples
      for (std::size_t i = samples.size() - 2 * kLastFrames; i < samples.size(); ++i)
        PutScaled(tail, samples[i] / 32768.0, 32, 32);
      EXPECT_TRUE(HoldsRun(ReadAlsaRecord(Record("dac")), tail));
    }
  }
}

// Paced at ten times real time, a 10-second track with its 3-second lead-in takes 1.3 s from
// "Starting ..." on (and a device buffer of silence behind the track, 20 ms).
TEST_F(AlsaPlaybackTest, APacedDeviceTakesTheTracksTime) {
  constexpr unsigned kSpeed = 10;
  const std::u16string wav =
      dir_.Write(u"a.wav", MakeWav({}, PackLe(std::vector<std::int64_t>(2 * 441000, 1), 16)));
  Use({{.name = "dac", .description = "DAC", .formats = {"S16_LE"}, .speed = kSpeed}});
  std::chrono::steady_clock::time_point starting;
  window_.SetObserver([&](platform::ui::ControlId id) {
    if (id == 2003 && window_.Text(2003) == u"Starting ...")
      starting = std::chrono::steady_clock::now();
  });
  ASSERT_EQ(Play({wav}, u"W: DAC", u"Auto"), kOk) << Utf8(window_.Text(2003));
  window_.SetObserver(nullptr);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - starting).count();
  EXPECT_GT(seconds, 1.3 * 0.99);
  EXPECT_LT(seconds, 1.32 + 0.1);  // and the ends of a loaded machine
  EXPECT_GE(Played(ReadAlsaTestLog(Record("dac"))).frames, 13U * 44100);
  EXPECT_THAT(Reports(), IsEmpty());
}

// A stop while the music plays ends the playback at once, with nothing drained.
TEST_F(AlsaPlaybackTest, AStopWhilePlayingEndsAtOnce) {
  const std::u16string wav =
      dir_.Write(u"a.wav", MakeWav({}, PackLe(std::vector<std::int64_t>(2 * 441000, 1), 16)));
  constexpr unsigned kSpeed = 4;
  Use({{.name = "dac", .description = "DAC", .formats = {"S16_LE"}, .speed = kSpeed}});
  window_.SetObserver([this](platform::ui::ControlId id) {
    if (id == 2003 && window_.Text(2003).starts_with(u"Decode:"))
      app_.PlayCommand = context::kCommandStop;
  });
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(Play({wav}, u"W: DAC", u"Auto"), kOk);
  window_.SetObserver(nullptr);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(seconds, (3.0 + 2.0) / kSpeed);  // the lead-in, then no more than a buffer or two
  EXPECT_LT(Played(ReadAlsaTestLog(Record("dac"))).frames, 5U * 44100);
}

// The program lists the sound cards ahead of the File outputs and plays to the first by default,
// unless an output file is named.
TEST_F(AlsaPlaybackTest, TheProgramListsCardsFirstAndPlaysToTheFirstByDefault) {
  Use({{.name = "dac",
        .description = "Test DAC",
        .formats = {"S16_LE", "DSD_U8"},
        .rates = {44100, 352800},
        .speed = kFast}});
  const ProcessRun devices = RunProcess({LUMARO_PROGRAM, "--asio", "devices"});
  EXPECT_EQ(devices.status, 0);
  std::vector<std::string> names;
  for (const std::string& line : devices.lines) {
    if (line.starts_with("W: ") || line.starts_with("A: ")) names.push_back(line);
  }
  EXPECT_THAT(names,
              ElementsAreArray({"W: Test DAC", "W: File output", "A: Test DAC", "A: File output"}));
  const std::u16string wav = dir_.Write(u"a.wav", MakeWav({}, PackLe({300, -300, 7, 9}, 16)));
  const ProcessRun play =
      RunProcess({"/bin/sh", "-c",
                  "cd '" + Utf8(dir_.Path()) + "' && exec '" + LUMARO_PROGRAM + "' --once a.wav"});
  EXPECT_EQ(play.status, 0);
  // The first resample choice, "Share", goes through the converter to the card.
  EXPECT_THAT(play.lines, Contains("Decode: 16bit 44100Hz - Out: 32/32bit float 44100Hz"));
  EXPECT_EQ(Played(ReadAlsaTestLog(Record("dac"))).format, "S16_LE");
  EXPECT_FALSE(ReadFileBytes(dir_.File(u"lumaro-output.wav")).has_value());
  // Naming an output file chooses the File output.
  const ProcessRun render = RunProcess(
      {LUMARO_PROGRAM, "--once", "--fast", "--output", Utf8(dir_.File(u"out.wav")), Utf8(wav)});
  EXPECT_EQ(render.status, 0);
  EXPECT_TRUE(ReadFileBytes(dir_.File(u"out.wav")).has_value());
}

}  // namespace
}  // namespace lumaro::testing
