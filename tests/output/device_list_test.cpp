#include "output/device_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/headless/headless_dialog.h"
#include "tests/support/sim_endpoints.h"
#include "tests/support/string_list.h"

namespace lumaro::output {
namespace {

using platform::endpoint::ShareMode;
using platform::endpoint::WaveFormat;
using platform::sim::SimEndpointScript;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

using lumaro::testing::Entries;

class DeviceListTest : public ::testing::Test {
 protected:
  void Use(std::vector<SimEndpointScript> endpoints) {
    lumaro::testing::UseSimEndpoints(services_, system_, {.endpoints = std::move(endpoints)});
    app_.Services = &services_;
    app_.MainWindow = &window_;
  }
  context::AppContext app_;
  platform::Services services_;
  platform::ui::HeadlessDialog window_;
  std::unique_ptr<platform::sim::SimEndpointSystem> system_;
};

// Endpoints are listed in order; the rates offered are those the endpoint takes (every rate for
// one that takes everything), none for one that only shares, and no list for a missing one.
TEST_F(DeviceListTest, ListsEveryEndpointInOrderWithTheRatesItTakes) {
  SimEndpointScript e{.name = u"DAC"};
  e.accepts = [](ShareMode mode, const WaveFormat& f) {
    return mode == ShareMode::kExclusive &&
           ((f.samplesPerSec == 48000 && f.bitsPerSample == 16) ||
            (f.samplesPerSec == 176400 && f.bitsPerSample == 32 && f.validBitsPerSample == 24));
  };
  SimEndpointScript sharedOnly{.name = u"Shared"};
  sharedOnly.accepts = [](ShareMode mode, const WaveFormat&) { return mode == ShareMode::kShared; };
  Use({{.name = u"Speakers"}, e, sharedOnly});
  EXPECT_THAT(Entries(ListEndpoints(app_).get()), ElementsAre(u"Speakers", u"DAC", u"Shared"));
  EXPECT_THAT(
      Entries(WasapiRates(app_, u"speakers").get()),  // the name matches in any letter case
      ElementsAreArray<std::u16string>({u"Share", u"Auto", u"32000", u"44100", u"48000", u"88200",
                                        u"96000", u"176400", u"192000", u"352800", u"384000",
                                        u"705600", u"768000", u"D64", u"D128", u"D256"}));
  EXPECT_THAT(Entries(WasapiRates(app_, u"DAC").get()),
              ElementsAre(u"Share", u"Auto", u"48000", u"176400", u"D64"));
  const auto none = WasapiRates(app_, u"Shared");
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->Count(), 0);
  EXPECT_EQ(WasapiRates(app_, u"Missing"), nullptr);
}

TEST_F(DeviceListTest, AnEndpointThatCannotBeActivatedSaysSo) {
  Use({{.name = u"DAC", .failing = {"Activate"}}});
  EXPECT_EQ(WasapiRates(app_, u"DAC"), nullptr);
  EXPECT_EQ(window_.Text(2003), u"DEVICE ERROR: Activate failed");
}

}  // namespace
}  // namespace lumaro::output
