// Whole playbacks through the driver family: files written by the test, decoded, prepared and
// fed to simulated drivers through the player's own steps, checking the status lines and the
// exact bytes each channel received.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "app/player_steps.h"
#include "dsp/bit_reverse.h"
#include "platform/file_output/dsdiff_header.h"
#include "platform/file_output/file_driver.h"
#include "platform/sim/sim_drivers.h"
#include "tests/engine/engine_fixture.h"

namespace lumaro::testing {
namespace {

using platform::driver::SampleType;
using platform::sim::SimDriverScript;
using ::testing::Contains;
using ::testing::ElementsAreArray;

// Three seconds of lead-in in halves of a fifth of a second: the last one is not needed.
constexpr std::size_t kLeadInHalves = 14;
constexpr std::uint32_t kOutliveMs = 5000;

class DriverPlaybackTest : public EngineTest {
 protected:
  DriverPlaybackTest() {
    steps_ = app::PlayerSteps();
    app_.PlayOnce = 1;
  }
  void TearDown() override { ASSERT_TRUE(probes_.WaitForNone(kOutliveMs)); }
  void Use(SimDriverScript driver) {
    driver.description = u"DAC";
    registry_ = std::make_unique<platform::sim::SimDriverRegistry>(
        platform::sim::SimRegistryScript{.drivers = {driver}});
    services_.drivers = registry_.get();
    services_.driverProbe.running = &probes_;
  }
  // The status lines from the driver's key on.
  std::vector<std::u16string> DriverStatuses() const {
    const std::vector<std::u16string> all = Statuses();
    auto from = std::find(all.begin(), all.end(), u"Prepareting device ...");
    return {from, all.end()};
  }
  // Channel `channel` as the driver played it: the lead-in, then what follows.
  Bytes Played(int channel, std::size_t halfBytes, Bytes* leadIn) const {
    const std::vector<std::uint8_t> bytes = registry_->Played(channel);
    const std::size_t split = std::min(bytes.size(), kLeadInHalves * halfBytes);
    leadIn->assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(split));
    return {bytes.begin() + static_cast<std::ptrdiff_t>(split), bytes.end()};
  }

  platform::ThreadCount probes_;
  std::unique_ptr<platform::sim::SimDriverRegistry> registry_;
  TempDir dir_;
};

// Whether every byte of `bytes` is `value` (quicker than a matcher over a megabyte).
bool AllAre(const Bytes& bytes, unsigned char value) {
  return std::all_of(bytes.begin(), bytes.end(), [value](unsigned char b) { return b == value; });
}

Bytes ReversedBits(Bytes bytes) {
  for (unsigned char& b : bytes) b = dsp::kBitReversed[b];
  return bytes;
}

TEST_F(DriverPlaybackTest, ADsd64DsfPlaysNativelyByteForByteOrBitReversed) {
  Bytes left(4096);
  Bytes right(4096);
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = static_cast<unsigned char>(i % 199 + 1);
    right[i] = static_cast<unsigned char>(255 - i % 197);
  }
  const std::u16string dsf = dir_.Write(u"a.dsf", MakeDsf({}, {left, right}));
  constexpr std::size_t kHalfBytes = 2822400 / 5 / 8;
  for (const SampleType type : {SampleType::kDSDInt8LSB1, SampleType::kDSDInt8MSB1}) {
    Use({.dsdType = type});
    ASSERT_EQ(Play({dsf}, u"A: DAC", u"Auto"), kOk) << Utf8(window_.Text(2003));
    const bool reversed = type == SampleType::kDSDInt8MSB1;
    for (int channel = 0; channel < 2; ++channel) {
      Bytes leadIn;
      const Bytes played = Played(channel, kHalfBytes, &leadIn);
      EXPECT_EQ(leadIn.size(), kLeadInHalves * kHalfBytes);
      EXPECT_TRUE(AllAre(leadIn, 0xCC));
      const Bytes& source = channel == 0 ? left : right;
      EXPECT_TRUE(BytesAt(played, 0, reversed ? ReversedBits(source) : source));
      // The track ends with its last half padded with 1-bit silence.
      ASSERT_GE(played.size(), kHalfBytes);
      EXPECT_TRUE(AllAre(Bytes(played.begin() + 4096, played.begin() + kHalfBytes), 0xCC));
    }
    const std::vector<std::u16string> expected = {
        u"Prepareting device ...",
        u"CoCreateInstance ...",
        u"Selecting output format ...",
        u"Setting process priority ...",
        u"Volume assist starting ...",
        u"Starting ...",
        u"Decode: 1bit 2822400Hz - Out: 1bit 2822400Hz DSD"};
    const std::vector<std::u16string> statuses = DriverStatuses();
    ASSERT_GE(statuses.size(), expected.size());
    EXPECT_THAT(std::vector<std::u16string>(statuses.begin(), statuses.begin() + 7),
                ElementsAreArray(expected));
    EXPECT_EQ(registry_->LiveDrivers(), 0);
  }
}

// The File output's own thread calls back, so this playback waits on the system's clock.
TEST_F(DriverPlaybackTest, TheFileOutputDriverWritesADsfAsDsdiffBytes) {
  Bytes left(4096);
  Bytes right(4096);
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = static_cast<unsigned char>(i * 7 + 3);
    right[i] = static_cast<unsigned char>(i * 13 + 5);
  }
  const std::u16string dsf = dir_.Write(u"a.dsf", MakeDsf({}, {left, right}));
  namespace fo = platform::file_output;
  fo::FileDriverRegistry registry({.path = dir_.File(u"out.wav"), .paced = false});
  services_.drivers = &registry;
  services_.driverProbe.running = &probes_;
  services_.clock = &platform::SystemClock();
  ASSERT_EQ(Play({dsf}, u"A: File output", u"Auto"), kOk) << Utf8(window_.Text(2003));
  ASSERT_EQ(registry.WrittenFiles().size(), 1U);
  EXPECT_EQ(registry.WrittenFiles()[0], dir_.File(u"out.dff"));
  const std::optional<Bytes> file = ReadFileBytes(registry.WrittenFiles()[0]);
  ASSERT_TRUE(file);
  Bytes interleaved;
  for (std::size_t i = 0; i < left.size(); ++i)
    interleaved.insert(interleaved.end(),
                       {dsp::kBitReversed[left[i]], dsp::kBitReversed[right[i]]});
  EXPECT_TRUE(BytesAt(*file, fo::kDsdiffHeaderBytes, interleaved));
}

// Tracks the driver cannot take as they are: a DSD128 track with loudness normalization is made
// PCM at the highest ladder rate the driver accepts; "D512" modulates a PCM track to 1 bit.
TEST_F(DriverPlaybackTest, ConvertedTracksPlayAtTheLadderTopOrModulatedAtD512) {
  Bytes dsd(8192);
  for (std::size_t i = 0; i < dsd.size(); ++i) dsd[i] = i % 2 == 0 ? 0x69 : 0x96;
  const std::u16string dsf = dir_.Write(u"a.dsf", MakeDsf({.rate = 5644800}, {dsd, dsd}));
  std::vector<std::int64_t> sine(2 * 4410);
  for (std::size_t i = 0; i < sine.size(); ++i)
    sine[i] = std::lround(8000 * std::sin(static_cast<double>(i / 2) * 0.0625));
  const std::u16string wav = dir_.Write(u"a.wav", MakeWav({}, PackLe(sine, 16)));
  struct Case {
    std::u16string track;
    std::uint32_t volumeAssist;
    std::u16string rate;
    std::vector<std::uint32_t> pcmRates;
    std::uint32_t rateSet;
    std::u16string playing;
  };
  const Case kCases[] = {
      {dsf, 3, u"Auto", {}, 768000, u"Decode: 1bit 5644800Hz - Out: 32/32bit 768000Hz"},
      {dsf, 3, u"auto", {44100, 96000}, 96000, u"Decode: 1bit 5644800Hz - Out: 32/32bit 96000Hz"},
      {dsf, 0, u"Auto", {}, 5644800, u"Decode: 1bit 5644800Hz - Out: 1bit 5644800Hz DSD"},
      {wav, 0, u"D512", {}, 22579200, u"Decode: 16bit 44100Hz - Out: 1bit 22579200Hz DSD"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf8(c.playing));
    app_.VolumeAssist = c.volumeAssist;
    Use({.pcmRates = c.pcmRates});
    ASSERT_EQ(Play({c.track}, u"A: DAC", c.rate), kOk) << Utf8(window_.Text(2003));
    EXPECT_THAT(registry_->Calls(), Contains("DAC: setSampleRate " + std::to_string(c.rateSet)));
    EXPECT_THAT(Statuses(), Contains(c.playing));
    const bool dsd = c.playing.ends_with(u"DSD");
    const std::size_t halfBytes = dsd ? c.rateSet / 5 / 8 : c.rateSet / 5 * 4;
    const unsigned char idle = dsd ? 0xCC : 0;
    for (int channel = 0; channel < 2; ++channel) {
      Bytes leadIn;
      const Bytes played = Played(channel, halfBytes, &leadIn);
      EXPECT_EQ(leadIn.size(), kLeadInHalves * halfBytes);
      EXPECT_TRUE(AllAre(leadIn, idle));
      // Sound follows the lead-in.
      ASSERT_GE(played.size(), halfBytes);
      EXPECT_FALSE(AllAre(Bytes(played.begin(), played.begin() + halfBytes), idle));
    }
  }
}

// Gapless, two DSD tracks reach the driver as one stream of their bytes, in list order.
TEST_F(DriverPlaybackTest, GaplessDsdTracksFollowEachOtherWithoutAGap) {
  const Bytes a(4096, 0x5A);
  const Bytes b(4096, 0x3C);
  const std::u16string first = dir_.Write(u"a.dsf", MakeDsf({}, {a, a}));
  const std::u16string second = dir_.Write(u"b.dsf", MakeDsf({}, {b, b}));
  app_.Gapless = 1;
  Use({.dsdType = SampleType::kDSDInt8LSB1});
  ASSERT_EQ(Play({first, second}, u"A: DAC", u"Auto"), kOk) << Utf8(window_.Text(2003));
  Bytes both = a;
  both.insert(both.end(), b.begin(), b.end());
  for (int channel = 0; channel < 2; ++channel) {
    Bytes leadIn;
    EXPECT_TRUE(BytesAt(Played(channel, 2822400 / 5 / 8, &leadIn), 0, both));
  }
}

TEST_F(DriverPlaybackTest, PcmGoesToAnInt24MsbDriverSwappedInHalvesOfItsLargestSize) {
  const std::vector<std::int64_t> samples = {16384, -16384, 1, -1, 32767, -32768, 0, 1234};
  const std::u16string wav = dir_.Write(u"a.wav", MakeWav({}, PackLe(samples, 16)));
  Use({.pcmType = SampleType::kInt24MSB, .minBufferSize = 64, .maxBufferSize = 2048});
  ASSERT_EQ(Play({wav}, u"A: DAC", u"Auto"), kOk) << Utf8(window_.Text(2003));
  EXPECT_THAT(registry_->Calls(), Contains("DAC: createBuffers 2 2048"));
  EXPECT_THAT(Statuses(), Contains(u"Decode: 16bit 44100Hz - Out: 24/24bit 44100Hz"));
  // 3 s are 132300 frames: 64 halves of 2048 leave less than one.
  constexpr std::size_t kHalves = 64;
  for (int channel = 0; channel < 2; ++channel) {
    const std::vector<std::uint8_t> bytes = registry_->Played(channel);
    ASSERT_GT(bytes.size(), kHalves * 2048 * 3);
    Bytes expected;
    for (std::size_t i = static_cast<std::size_t>(channel); i < samples.size(); i += 2) {
      const auto v = static_cast<std::int32_t>(std::nearbyint(samples[i] / 32768.0 * 8388607.0));
      for (int k = 2; k >= 0; --k) expected.push_back(static_cast<std::uint8_t>(v >> 8 * k));
    }
    EXPECT_TRUE(AllAre(Bytes(bytes.begin(), bytes.begin() + kHalves * 2048 * 3), 0));
    EXPECT_TRUE(BytesAt(bytes, kHalves * 2048 * 3, expected));
  }
}

// A driver that refuses the float format or its start, or falls silent once started.
TEST_F(DriverPlaybackTest, AFloatDriverIsRefusedAndASilentDriverFailsAfterTwoSeconds) {
  const std::u16string wav = dir_.Write(u"a.wav", MakeWav({}, PackLe({1, 2, 3, 4}, 16)));
  struct Case {
    SimDriverScript driver;
    const char16_t* text;
    int timeouts;
  };
  const Case kCases[] = {
      {{.pcmType = SampleType::kFloat32LSB}, u"DEVICE ERROR: unsupported format", 0},
      {{.switchLimit = 5}, u"ERROR: WaitForSingleObject failed", 1},
      {{.timeInfoOnly = true}, u"ERROR: WaitForSingleObject failed", 1},
      {{.failing = {"start"}}, u"ERROR: start failed", 0},
  };
  for (const Case& c : kCases) {
    Use(c.driver);
    const int timeoutsBefore = clock_.Timeouts();
    const std::uint64_t before = clock_.NowMicroseconds();
    EXPECT_NE(Play({wav}, u"A: DAC", u"Auto"), kOk);
    EXPECT_EQ(window_.Text(2003), c.text);
    EXPECT_EQ(clock_.Timeouts() - timeoutsBefore, c.timeouts);
    EXPECT_EQ(clock_.NowMicroseconds() - before, c.timeouts * 2'000'000U);
    EXPECT_EQ(registry_->LiveDrivers(), 0);
  }
}

TEST_F(DriverPlaybackTest, AStopDuringTheLeadInEndsWithoutAnErrorAndStopsTheDriver) {
  const std::u16string wav = dir_.Write(u"a.wav", MakeWav({}, PackLe({1, 2, 3, 4}, 16)));
  Use({});
  window_.SetObserver([this](platform::ui::ControlId id) {
    if (id == 2003 && window_.Text(2003) == u"Starting ...")
      app_.PlayCommand = context::kCommandStop;
  });
  EXPECT_EQ(Play({wav}, u"A: DAC", u"Auto"), kOk);
  window_.SetObserver(nullptr);
  EXPECT_EQ(window_.Text(2003), u"");
  EXPECT_TRUE(registry_->Played(0).empty());
  const std::vector<std::string> calls = registry_->Calls();
  const std::vector<std::string> last(calls.end() - 3, calls.end());
  EXPECT_THAT(last, ElementsAreArray({"DAC: stop", "DAC: disposeBuffers", "DAC: release"}));
}

}  // namespace
}  // namespace lumaro::testing
