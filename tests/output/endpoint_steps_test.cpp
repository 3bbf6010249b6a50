#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/output/endpoint_test_fixture.h"

namespace lumaro::testing {

using platform::endpoint::ShareMode;
using platform::endpoint::SubFormat;
using platform::endpoint::WaveFormat;
using platform::sim::SimEndpointScript;
using platform::sim::SimSystemScript;

namespace {

using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// After the pre-fill and 3 s of lead-in come the data, then silence to let the tail sound: the
// tail buffer padded, then one more buffer; in shared mode the whole tail plays however little
// room the device offers.
TEST_F(EndpointTest, TheBytesAfterTheLeadInAreTheDataThenSilence) {
  struct Case {
    std::u16string rate;
    std::uint32_t padding;  // frames still queued at each period
    std::uint64_t frames;
    std::size_t lead, size;  // bytes
  } const cases[] = {
      // 15 × 8820 ≥ 132300; 2 full buffers and a tail of 2360
      {u"Auto", 0, 20000, 16 * 8820 * 8, (16 + 4) * 8820 * 8},
      // half of every 8820-frame buffer still queued: 3 s in 4410-frame passes
      {u"Share", 4410, 9000, (8820 + 30 * 4410) * 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.rate));
    SimEndpointScript e = SimEndpoint(u"Test");
    e.padding = c.padding;
    UseEndpoints({.endpoints = {e}});
    outputFrames_ = c.frames;
    EXPECT_EQ(Play({u"/m/a.wav"}, u"W: Test", c.rate), kOk);
    const std::vector<std::uint8_t> bytes = endpoints_->Bytes();
    const std::size_t dataEnd = c.lead + c.frames * 8;
    if (c.size != 0) {
      ASSERT_EQ(bytes.size(), c.size);
      EXPECT_TRUE(BytesAt(bytes, 0, Bytes(c.lead, 0)));
      const std::vector<std::uint32_t> releases = endpoints_->Releases();
      ASSERT_EQ(releases.size(), c.size / (8820 * 8));
      EXPECT_THAT(std::vector(releases.begin(), releases.begin() + 16), Each(8820U));
    }
    ASSERT_GE(bytes.size(), dataEnd + 8820 * 8);
    EXPECT_TRUE(BytesAt(bytes, c.lead, PatternBytes(c.frames * 8)));
    EXPECT_TRUE(BytesAt(bytes, dataEnd, Bytes(bytes.size() - dataEnd, 0)));
    EXPECT_EQ(app_.PlayCommand.Load(), context::kCommandStop);
  }
}

TEST_F(EndpointTest, AutoTriesTheTracksRateThenTheLadderFromTheTop) {
  SimEndpointScript e = SimEndpoint(u"Test");
  e.accepts = [](ShareMode mode, const WaveFormat& f) {
    return mode == ShareMode::kExclusive && f.samplesPerSec == 48000 && f.bitsPerSample == 16;
  };
  UseEndpoints({.endpoints = {e}});
  EXPECT_EQ(Play({u"/m/a.wav"}), kOk);
  const auto asked = CallsStartingWith("IsFormatSupported");
  ASSERT_EQ(asked.size(), 4U + 8U * 4U + 4U);
  const char* first[] = {"44100 32/32", "44100 24/32", "44100 24/24", "44100 16/16",
                         "768000 32/32"};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(asked[i], "IsFormatSupported exclusive pcm " + std::string(first[i]));
  EXPECT_EQ(asked.back(), "IsFormatSupported exclusive pcm 48000 16/16");
  EXPECT_EQ(window_.TextHistory(2003).at(10), u"Decode: 16bit 44100Hz - Out: 16/16bit 48000Hz");
}

// Fixed and DoP rates ask for their format only (DoP takes the 32-bit container when 24 is
// refused); shared mode takes the closest match the endpoint offers, within 8 kHz … 384 kHz.
TEST_F(EndpointTest, EachRateChoosesItsFormatOrFailsWithItsText) {
  struct Case {
    std::u16string rate;
    std::uint32_t closest;  // shared mode: the closest match offered
    std::uint16_t bits;     // exclusive mode: the one container taken (0: any)
    std::string initialize;
    std::u16string text;  // after "Decode: 16bit 44100Hz - Out: ", or the failure
  } const cases[] = {
      {u"96000", 0, 0, "exclusive pcm 96000 32/32", u"32/32bit 96000Hz"},
      {u"D64", 0, 0, "exclusive pcm 176400 24/24", u"24/24bit 176400Hz DoP"},
      {u"D128", 0, 32, "exclusive pcm 352800 24/32", u"24/32bit 352800Hz DoP"},
      {u"D256", 0, 0, "exclusive pcm 705600 24/24", u"24/24bit 705600Hz DoP"},
      {u"D512", 0, 0, "", u"DEVICE ERROR: unsupported audio format"},
      {u"12345", 0, 0, "", u"DEVICE ERROR: unsupported audio format"},
      {u"share", 48000, 0, "shared float 48000 32/32 flags=0xc0000 2000000 0",
       u"32/32bit float 48000Hz"},
      {u"share", 8000, 0, "shared float 8000 32/32 flags=0xc0000 2000000 0",
       u"32/32bit float 8000Hz"},
      {u"share", 7999, 0, "", u"DEVICE ERROR: unsupported sample rate"},
      {u"share", 384001, 0, "", u"DEVICE ERROR: unsupported sample rate"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.rate) + " " + std::to_string(c.closest));
    SimEndpointScript e = SimEndpoint(u"Test");
    if (c.bits != 0) {
      e.accepts = [b = c.bits](ShareMode, const WaveFormat& f) { return f.bitsPerSample == b; };
    }
    if (c.closest != 0) {
      e.accepts = [r = c.closest](ShareMode m, const WaveFormat& f) {
        return m == ShareMode::kShared && f.samplesPerSec == r;
      };
      e.sharedClosest =
          platform::endpoint::MakeWaveFormat(SubFormat::kIeeeFloat, c.closest, 32, 32);
    }
    UseEndpoints({.endpoints = {e}});
    const Result result = Play({u"/m/a.wav"}, u"W: Test", c.rate);
    const auto initialized = CallsStartingWith("Initialize");
    if (c.initialize.empty()) {
      EXPECT_NE(result, kOk);
      EXPECT_EQ(window_.Text(2003), c.text);
      EXPECT_TRUE(initialized.empty());
    } else {
      EXPECT_EQ(result, kOk);
      EXPECT_THAT(window_.TextHistory(2003), Contains(u"Decode: 16bit 44100Hz - Out: " + c.text));
      ASSERT_EQ(initialized.size(), 1U);
      EXPECT_THAT(initialized[0], HasSubstr("Initialize " + c.initialize));
    }
  }
}

TEST_F(EndpointTest, ANotAlignedBufferIsRetriedOnceOnAFreshClient) {
  SimEndpointScript e = SimEndpoint(u"Test");
  e.alignedFrames = 8192;
  UseEndpoints({.endpoints = {SimEndpoint(u"Other"), e}});  // found past another endpoint
  EXPECT_EQ(Play({u"/m/a.wav"}), kOk);
  const auto calls = endpoints_->Calls();
  const auto first = std::find_if(calls.begin(), calls.end(),
                                  [](const std::string& c) { return c.starts_with("Initialize"); });
  ASSERT_NE(first, calls.end());
  EXPECT_THAT(std::vector<std::string>(first, first + 4),
              ElementsAre("Initialize exclusive pcm 44100 32/32 flags=0xc0000 2000000 2000000",
                          "GetBufferSize", "Activate Test",
                          "Initialize exclusive pcm 44100 32/32 flags=0x40000 1857596 1857596"));
  EXPECT_EQ(endpoints_->LiveClients(), 0);
}

TEST_F(EndpointTest, EveryDeviceErrorTextAndEverythingReleased) {
  struct Case {
    SimSystemScript script;
    std::u16string text;
    std::u16string rate = u"Auto";
  };
  const auto failing = [](std::string call) {
    return SimSystemScript{.endpoints = {{.name = u"Test", .failing = {std::move(call)}}}};
  };
  const Case cases[] = {
      {{.failCreate = true}, u"DEVICE ERROR: CoCreateInstance failed"},
      {{.failEnumerate = true}, u"DEVICE ERROR: EnumAudioEndpoints failed"},
      {{.failCount = true}, u"DEVICE ERROR: GetCount failed"},
      {{.endpoints = {SimEndpoint(u"test")}}, u"DEVICE ERROR: device not found"},
      {failing("GetFriendlyName"), u"DEVICE ERROR: device not found"},
      {failing("Activate"), u"DEVICE ERROR: Activate failed"},
      {failing("IsFormatSupported"), u"DEVICE ERROR: unsupported audio format"},
      {failing("IsFormatSupported"), u"DEVICE ERROR: IsFormatSupported", u"Share"},
      {failing("Initialize"), u"DEVICE ERROR: Initialize failed"},
      {failing("SetEventHandle"), u"DEVICE ERROR: SetEventHandle failed"},
      {failing("GetBufferSize"), u"DEVICE ERROR: GetBufferSize failed"},
      {failing("GetService"), u"DEVICE ERROR: GetService failed"},
      {failing("GetBuffer"), u"DEVICE ERROR: GetBuffer failed"},
      {failing("Start"), u"DEVICE ERROR: Start failed"},
      {failing("GetCurrentPadding"), u"DEVICE ERROR: GetCurrentPadding", u"Share"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.text));
    UseEndpoints(c.script);
    EXPECT_NE(Play({u"/m/a.wav"}, u"W: Test", c.rate), kOk);
    EXPECT_EQ(window_.Text(2003), c.text);
    EXPECT_EQ(window_.Text(2000), u"/m/a.wav");
    EXPECT_EQ(endpoints_->LiveClients(), 0);
  }
  services_.endpoints = nullptr;
  EXPECT_NE(Play({u"/m/a.wav"}), kOk);
  EXPECT_EQ(window_.Text(2003), u"DEVICE ERROR: CoCreateInstance failed");
}

TEST_F(EndpointTest, ASilentEndpointTimesOutAfterTwoSecondsOfItsClock) {
  SimEndpointScript e = SimEndpoint(u"Test");
  e.signalLimit = 5;  // stops asking for data during the lead-in
  UseEndpoints({.endpoints = {e}});
  EXPECT_NE(Play({u"/m/a.wav"}), kOk);
  EXPECT_EQ(window_.Text(2003), u"ERROR: WaitForSingleObject failed");
  EXPECT_EQ(clock_.Timeouts(), 1);
  EXPECT_EQ(clock_.NowMicroseconds(), 2'000'000U);
}

TEST_F(EndpointTest, ASingleTrackWithoutOnceLoopsWithoutAGap) {
  outputFrames_ = 10000;  // the second data buffer of 8820 frames wraps to the start
  PlayActingOnData({u"/m/a.wav"}, u"Auto", [] {});
  EXPECT_EQ(next_, PatternBytes(8820 * 8, 8820 * 8, 10000 * 8));
}

TEST_F(EndpointTest, AListPlaysEachTailThenTheNextTrackAndOnceEndsAfterTheLast) {
  SimEndpointScript e = SimEndpoint(u"Test");
  UseEndpoints({.endpoints = {e}});
  outputFrames_ = 9000;
  EXPECT_EQ(Play({u"/m/a.wav", u"/m/b.wav"}), kOk);
  EXPECT_THAT(Log(), ElementsAre("decode /m/a.wav", "prepare", "decode /m/b.wav", "prepare"));
  const std::vector<std::uint32_t> releases = endpoints_->Releases();  // of the second track
  EXPECT_EQ(releases.size(), 1U + 15U + 2U + 1U);
  const std::vector<std::uint8_t> bytes = endpoints_->Bytes();
  EXPECT_TRUE(BytesAt(bytes, 16 * 8820 * 8, PatternBytes(9000 * 8)));
  EXPECT_EQ(window_.Text(2003), u"");
}

}  // namespace
}  // namespace lumaro::testing
