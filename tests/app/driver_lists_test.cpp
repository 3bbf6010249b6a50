#include "app/driver_lists.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "app/init_settings.h"
#include "platform/services.h"
#include "platform/sim/sim_drivers.h"
#include "platform/text.h"
#include "tests/support/string_list.h"

namespace lumaro::app {
namespace {

using platform::sim::SimDriverScript;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::Entries;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kTestWaitMs = 250;
constexpr std::uint32_t kTestFailedSleepMs = 500;
constexpr std::uint32_t kHangMs = 2000;
constexpr std::uint32_t kOutliveMs = 5000;

class DriverListsTest : public ::testing::Test {
 protected:
  // Registers `drivers`; probes wait `waitMs` and failed ones sleep `failedSleepMs`.
  void Use(std::vector<SimDriverScript> drivers, std::uint32_t waitMs = kTestWaitMs,
           std::uint32_t failedSleepMs = kTestFailedSleepMs) {
    registry_ = std::make_unique<platform::sim::SimDriverRegistry>(
        platform::sim::SimRegistryScript{.drivers = std::move(drivers)});
    services_.drivers = registry_.get();
    services_.driverProbe = {.waitMs = waitMs, .failedSleepMs = failedSleepMs, .running = &probes_};
    app_.Services = &services_;
  }
  // Every probe thread, hung or sleeping, ends before the registry goes.
  void TearDown() override {
    if (registry_) registry_->EndHangs();
    ASSERT_TRUE(probes_.WaitForNone(kOutliveMs));
    if (registry_) {
      EXPECT_EQ(registry_->LiveDrivers(), 0);
    }
  }
  platform::ThreadCount probes_;
  context::AppContext app_;
  platform::Services services_;
  std::unique_ptr<platform::sim::SimDriverRegistry> registry_;
};

TEST_F(DriverListsTest, ListsTheDriversThatPassEveryCheckInRegistryOrder) {
  Use({{.description = u"Full"},
       {.description = u"PCM only", .takesDsd = false},
       {.description = u"DSD only", .takesPcm = false},
       {.description = u"Old", .version = 1},
       {.description = u"Refuses init", .initAnswer = 0},
       {.description = u"Bad class", .clsidText = u"{not-a-class-id}"},
       {.description = u"Hangs", .initBlockMs = kHangMs},
       {.description = std::u16string(128, u'x')},  // 258 bytes with its terminator
       {.description = u"Last", .subkeyName = u"other key name"}});
  const auto start = Clock::now();
  EXPECT_THAT(Entries(ListAsioDrivers(app_).get()), ElementsAre(u"Full", u"Last"));
  // Three probes fail (old, init refused, hung), each costing one wait.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kHangMs));
  // The hung driver was only ever created by its probe, never by the listing thread.
  const auto calls = registry_->Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Hangs: create"), 1);
}

TEST_F(DriverListsTest, AHungDriverCostsOneSecondAndItsThreadIsLeftBehind) {
  Use({{.description = u"Hangs", .initBlockMs = kHangMs}, {.description = u"Good"}},
      platform::DriverProbeTimes::kWaitMs, platform::DriverProbeTimes::kFailedSleepMs);
  const auto start = Clock::now();
  EXPECT_THAT(Entries(ListAsioDrivers(app_).get()), ElementsAre(u"Good"));
  const auto spent = Clock::now() - start;
  EXPECT_GE(spent, std::chrono::milliseconds(platform::DriverProbeTimes::kWaitMs));
  EXPECT_LT(spent, std::chrono::milliseconds(kHangMs - 500));
  EXPECT_FALSE(probes_.WaitForNone(0));  // the hung probe is still in init
  EXPECT_EQ(AsioProbe(app_, u"Good"), kOk);
  EXPECT_NE(AsioProbe(app_, std::u16string(258, u'g')), kOk);
}

TEST_F(DriverListsTest, RatesFollowWhatTheDriverTakesInEachFormat) {
  const std::vector<std::u16string> every = {
      u"Auto",   u"32000",  u"44100",  u"48000",  u"88200", u"96000", u"176400", u"192000",
      u"352800", u"384000", u"705600", u"768000", u"D64",   u"D128",  u"D256",   u"D512"};
  Use({{.description = u"Full"},
       {.description = u"Some",
        .pcmRates = {96000, 44100, 22050},
        .dsdRates = {64 * 44100, 256 * 44100}},
       {.description = u"DSD only", .takesPcm = false, .dsdRates = {128 * 44100}},
       {.description = u"PCM only", .takesDsd = false, .pcmRates = {48000}},
       {.description = u"Refuses init", .initAnswer = 0}});
  struct Case {
    std::u16string_view name;
    std::vector<std::u16string> rates;
  } const cases[] = {
      {u"Full", every},
      {u"Some", {u"Auto", u"44100", u"96000", u"D64", u"D256"}},
      {u"DSD only", {u"D128"}},
      {u"PCM only", {u"Auto", u"48000"}},
      {u"full", {}},  // descriptions match with their letter case
      {u"Refuses init", {}},
      {u"Missing", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::Utf16ToUtf8(c.name));
    EXPECT_THAT(Entries(AsioRates(app_, c.name).get()), ElementsAreArray(c.rates));
  }
}

TEST_F(DriverListsTest, SettingsListTheDriversOnlyWithAsioSupport) {
  Use({{.description = u"Full", .pcmRates = {44100}, .dsdRates = {64 * 44100}}});
  using Entries_ = std::vector<std::u16string>;
  for (std::uint32_t asio : {0u, 1u}) {
    app_.AsioSupport = asio;
    (void)InitSettings(app_, u"/no/such/dir/lumaro");
    const Entries_ devices = asio ? Entries_{u"A: Full"} : Entries_{};
    const Entries_ rates = asio ? Entries_{u"Auto", u"44100", u"D64"} : Entries_{};
    EXPECT_EQ(Entries(app_.DeviceList.get()), devices);
    EXPECT_EQ(Entries(app_.RateList.get()), rates);
  }
}

TEST(ClassIdTest, ReadsOnlyTheBracedForm) {
  const std::u16string text = u"{0123ABCD-4567-89ef-0A1b-C2D3E4F5A6B7}";
  const auto id = platform::driver::ClassIdFromString(text);
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ((*id)[0], 0x01);
  EXPECT_EQ((*id)[9], 0x1B);
  EXPECT_EQ(platform::driver::ClassIdToString(*id), u"{0123ABCD-4567-89EF-0A1B-C2D3E4F5A6B7}");
  for (std::u16string bad :
       {u"0123ABCD-4567-89ef-0A1b-C2D3E4F5A6B7", u"{0123ABCD-4567-89ef-0A1b-C2D3E4F5A6B}",
        u"{0123ABCD-4567-89ef-0A1b+C2D3E4F5A6B7}", u"{0123ABCG-4567-89ef-0A1b-C2D3E4F5A6B7}"}) {
    EXPECT_FALSE(platform::driver::ClassIdFromString(bad).has_value()) << bad.size();
  }
}

}  // namespace
}  // namespace lumaro::app
