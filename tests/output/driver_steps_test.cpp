// The driver family's steps up to the preparation: the driver found by its description, the
// rate and format choice, the buffers and every failure text, against simulated drivers.
#include "output/driver_steps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/feeding.h"
#include "engine/track_preparation.h"
#include "output/driver_format.h"
#include "platform/sim/sim_drivers.h"
#include "tests/engine/engine_fixture.h"

namespace lumaro::testing {
namespace {

using platform::driver::SampleType;
using platform::sim::SimDriverScript;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsSupersetOf;

class DriverStepsTest : public EngineTest {
 protected:
  DriverStepsTest() {
    steps_.Family(context::DeviceFamily::kDriver) =
        output::DriverFamilySteps([this](const context::AppContext&, std::u16string_view name) {
          recorder_.Add("probe " + Utf8(name));
          return probeAnswer_;
        });
    // The preparation stands in for everything after the format choice: it notes the choice
    // and stops the playback.
    steps_.raisePriority = [this](context::PlayRequest& r) -> Result {
      chosen_ = r.DriverOutput;
      recorder_.Add("prepare");
      app_.PlayCommand = context::kCommandStop;
      return kOk;
    };
  }
  void Use(std::vector<SimDriverScript> drivers, bool noKey = false) {
    registry_ = std::make_unique<platform::sim::SimDriverRegistry>(
        platform::sim::SimRegistryScript{.noKey = noKey, .drivers = std::move(drivers)});
    services_.drivers = registry_.get();
  }
  std::u16string Status() const { return window_.Text(2003); }

  Result probeAnswer_ = kOk;
  context::DriverFormat chosen_;
  std::unique_ptr<platform::sim::SimDriverRegistry> registry_;
};

TEST_F(DriverStepsTest, RateChoiceWithLadderFallThroughAndBufferSize) {
  struct Case {
    const char16_t* rate;
    FakeTrack track;
    std::uint32_t assist;
    SimDriverScript driver;
    const char16_t* error = nullptr;  // nullptr: played
    std::uint32_t nativeDsd = 0;
    std::uint32_t driverRate = 0;
    const char* createBuffers = "";
  };
  const Case kCases[] = {
      {u"Auto", {.isDsd = 1, .rate = 5644800}, 0, {}, nullptr, 1, 5644800, "2 1048576"},
      {u"Auto", {.isDsd = 1, .rate = 5644800}, 3, {}, nullptr, 0, 768000, "2 153600"},
      {.rate = u"auto",
       .track = {.isDsd = 1, .rate = 2822400},
       .driver = {.takesDsd = false, .pcmRates = {96000, 44100}},
       .driverRate = 96000,
       .createBuffers = "2 19200"},
      {u"Auto", {.rate = 44100}, 0, {.maxBufferSize = 2048}, nullptr, 0, 44100, "2 2048"},
      {.rate = u"Auto",
       .track = {.rate = 12000},
       .driver = {.pcmRates = {44100, 48000}, .minBufferSize = 16384},
       .driverRate = 48000,
       .createBuffers = "2 16384"},
      {u"Auto", {.rate = 44100}, 0, {.takesPcm = false}, u"DEVICE ERROR: future failed"},
      {u"Auto",
       {.rate = 44100},
       0,
       {.pcmRates = {11025}},
       u"DEVICE ERROR: unsupported audio format"},
      {u"D512", {.rate = 44100}, 0, {.maxBufferSize = 8 << 20}, nullptr, 1, 22579200, "2 4515840"},
      {u"D256", {.rate = 44100}, 0, {.takesDsd = false}, u"DEVICE ERROR: unsupported audio format"},
      {u"D32", {.rate = 44100}, 0, {}, u"ERROR: internal error"},
      {u"88200", {.rate = 44100}, 0, {}, nullptr, 0, 88200, "2 17640"},
      {u"12345", {.rate = 44100}, 0, {}, u"DEVICE ERROR: unsupported audio format"},
      {u"44100", {.rate = 44100}, 0, {.takesPcm = false}, u"DEVICE ERROR: future failed"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf8(c.rate) + " " + std::to_string(c.track.rate));
    SimDriverScript driver = c.driver;
    driver.description = u"DAC";
    Use({driver});
    tracks_[u"/m/a"] = c.track;
    app_.VolumeAssist = c.assist;
    chosen_ = {};
    const Result result = Play({u"/m/a"}, u"A: DAC", c.rate);
    if (c.error != nullptr) {
      EXPECT_NE(result, kOk);
      EXPECT_EQ(Status(), c.error);
      continue;
    }
    EXPECT_EQ(result, kOk) << Utf8(Status());
    EXPECT_EQ(chosen_.NativeDsd, c.nativeDsd);
    EXPECT_EQ(chosen_.DriverRate, c.driverRate);
    EXPECT_THAT(registry_->Calls(), Contains(std::string("DAC: createBuffers ") + c.createBuffers));
  }
}

TEST_F(DriverStepsTest, SampleTypesGiveWidthsAndByteOrderOrAreRefused) {
  struct Case {
    SampleType type;
    bool dsd;
    std::optional<output::DriverSampleFormat> format;
  };
  const Case kCases[] = {
      {SampleType::kInt16LSB, false, {{16, 16, 0}}},
      {SampleType::kInt24LSB, false, {{24, 24, 0}}},
      {SampleType::kInt32LSB, false, {{32, 32, 0}}},
      {SampleType::kInt16MSB, false, {{16, 16, 1}}},
      {SampleType::kInt24MSB, false, {{24, 24, 1}}},
      {SampleType::kInt32MSB, false, {{32, 32, 1}}},
      {SampleType::kInt32MSB16, false, {{16, 32, 1}}},
      {SampleType::kInt32MSB24, false, {{24, 32, 1}}},
      {SampleType::kInt32LSB16, false, {}},
      {SampleType::kInt32LSB24, false, {}},
      {SampleType::kFloat32LSB, false, {}},
      {SampleType::kFloat64MSB, false, {}},
      {SampleType::kDSDInt8LSB1, false, {}},
      {SampleType::kDSDInt8LSB1, true, {{1, 8, 0}}},
      {SampleType::kDSDInt8MSB1, true, {{1, 8, 1}}},
      {SampleType::kInt32LSB, true, {}},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(output::DriverSampleFormatOf(c.type, c.dsd), c.format)
        << static_cast<int>(c.type) << " " << c.dsd;
  }
  // Through the steps: a refused type is reported and the buffers are still disposed of.
  Use({{.description = u"DAC", .pcmType = SampleType::kFloat32LSB}});
  EXPECT_NE(Play({u"/m/a"}, u"A: DAC", u"Auto"), kOk);
  EXPECT_EQ(Status(), u"DEVICE ERROR: unsupported format");
  EXPECT_THAT(registry_->Calls(), IsSupersetOf({"DAC: disposeBuffers", "DAC: release"}));
}

TEST_F(DriverStepsTest, TheDriverIsFoundByDescriptionIgnoringCaseWithinTheRegistryLimits) {
  const std::u16string name126(126, u'n');
  Use({{.description = u"Broken", .clsidText = u"{nonsense}"},
       {.description = u"Target", .subkeyName = name126},
       {.description = std::u16string(127, u't')},
       {.description = u"tArGeT", .subkeyName = u"second"}});
  EXPECT_EQ(Play({u"/m/a"}, u"A: TARGET", u"Auto"), kOk) << Utf8(Status());
  EXPECT_THAT(Log(), ElementsAre("decode /m/a", "probe TARGET", "prepare"));
  EXPECT_EQ(registry_->Calls().front(), "tArGeT: create");
  // 126 units make a description of 254 bytes with its terminator, one short of the limit.
  Use({{.description = std::u16string(126, u'x'), .subkeyName = u"k"}});
  EXPECT_EQ(Play({u"/m/a"}, u"A: " + std::u16string(126, u'X'), u"Auto"), kOk);
  Use({{.description = std::u16string(127, u'x'), .subkeyName = u"k"}});
  EXPECT_NE(Play({u"/m/a"}, u"A: " + std::u16string(127, u'x'), u"Auto"), kOk);
  EXPECT_EQ(Status(), u"DEVICE ERROR: device not found");
}

TEST_F(DriverStepsTest, EachFailureHasItsTextAndReleasesWhatWasMade) {
  struct Case {
    SimDriverScript driver;
    Result probe;
    const char16_t* text;
  };
  const Case kCases[] = {
      {{.description = u"Other"}, kOk, u"DEVICE ERROR: device not found"},
      {{.description = u"DAC", .creatable = false}, kOk, u"DEVICE ERROR: CoCreateInstance"},
      {{.description = u"DAC"}, 1, u"DEVICE ERROR: device not available"},
      {{.description = u"DAC", .failing = {"init"}}, kOk, u"DEVICE ERROR: init failed"},
      {{.description = u"DAC", .failing = {"getBufferSize"}},
       kOk,
       u"DEVICE ERROR: getBufferSize failed"},
      {{.description = u"DAC", .failing = {"createBuffers"}},
       kOk,
       u"DEVICE ERROR: createBuffers failed"},
      {{.description = u"DAC", .failing = {"getChannelInfo"}},
       kOk,
       u"DEVICE ERROR: getChannelInfo failed"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf8(c.text));
    Use({c.driver});
    probeAnswer_ = c.probe;
    EXPECT_NE(Play({u"/m/a"}, u"A: DAC", u"Auto"), kOk);
    EXPECT_EQ(Status(), c.text);
    EXPECT_EQ(registry_->LiveDrivers(), 0);
  }
  // Without the drivers' key the playback fails without a text of its own.
  Use({}, true);
  EXPECT_NE(Play({u"/m/a"}, u"A: DAC", u"Auto"), kOk);
  EXPECT_EQ(Status(), u"Prepareting device ...");
}

TEST_F(DriverStepsTest, OutputDataKeepsOrRemodulatesOneBitAndOrdersPcmBytesForTheDriver) {
  steps_.raisePriority = engine::RaisePriority;
  steps_.applyVolumeAssist = engine::ApplyVolumeAssist;
  std::vector<std::uint8_t> firstPair;
  std::uint32_t outRate = 0;
  steps_.Handler(context::DeviceFamily::kDriver,
                 context::Step::kStartDriver) = [&](context::PlayRequest& r) -> Result {
    const engine::OutputView view = engine::ViewOf(r.Buffer);
    firstPair.assign(view.data, view.data + view.frameBytes);
    outRate = r.DriverOutput.DriverRate;
    app_.PlayCommand = context::kCommandStop;
    return kOk;
  };
  struct Case {
    FakeTrack track;
    const char16_t* rate;
    SimDriverScript driver;
    std::vector<std::uint8_t> firstPair;  // empty: only the rate is checked
    std::uint32_t outRate;
    bool modulated;
  };
  // The whole-engine tests cover 1-bit data kept as it is and 24-bit big-endian samples. A
  // quarter of full scale is 0x2000 in 16 bits.
  const Case kCases[] = {
      {{.isDsd = 1, .rate = 2822400, .frames = 4096, .value = 0x69},
       u"D128",
       {},
       {},
       5644800,
       true},
      {{.frames = 64}, u"D64", {}, {}, 2822400, true},
      {{.frames = 64},
       u"Auto",
       {.pcmType = SampleType::kInt32MSB16},
       {0, 0, 0x20, 0, 0, 0, 0x20, 0},
       44100,
       false},
      {{.frames = 64},
       u"Auto",
       {.pcmType = SampleType::kInt16LSB},
       {0, 0x20, 0, 0x20},
       44100,
       false},
  };
  for (const Case& c : kCases) {
    SimDriverScript driver = c.driver;
    driver.description = u"DAC";
    Use({driver});
    tracks_[u"/m/a"] = c.track;
    firstPair.clear();
    const std::size_t before = Statuses().size();
    ASSERT_EQ(Play({u"/m/a"}, u"A: DAC", c.rate), kOk) << Utf8(Status());
    EXPECT_EQ(outRate, c.outRate);
    if (!c.firstPair.empty()) {
      EXPECT_EQ(firstPair, c.firstPair) << Utf8(c.rate);
    }
    const std::vector<std::u16string> statuses = Statuses();
    const bool modulated = std::find(statuses.begin() + static_cast<std::ptrdiff_t>(before),
                                     statuses.end(), u"Converting to 1bit ...") != statuses.end();
    EXPECT_EQ(modulated, c.modulated) << outRate;
  }
}

}  // namespace
}  // namespace lumaro::testing
