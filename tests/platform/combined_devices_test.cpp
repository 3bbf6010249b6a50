#include "platform/combined_devices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/sim/sim_drivers.h"
#include "platform/sim/sim_endpoints.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAreArray;
namespace ep = platform::endpoint;
namespace sim = platform::sim;

// The names of the endpoints a system lists, in order.
std::vector<std::u16string> Names(ep::EndpointSystem& system) {
  std::vector<std::u16string> names;
  std::unique_ptr<ep::Enumerator> enumerator;
  std::unique_ptr<ep::EndpointCollection> collection;
  std::uint32_t count = 0;
  if (ep::Failed(system.CreateEnumerator(&enumerator)) ||
      ep::Failed(enumerator->EnumAudioEndpoints(&collection)) ||
      ep::Failed(collection->GetCount(&count)))
    return names;
  for (std::uint32_t i = 0; i <= count; ++i) {
    std::unique_ptr<ep::Endpoint> endpoint;
    std::u16string name;
    if (ep::Failed(collection->Item(i, &endpoint))) {
      EXPECT_EQ(i, count) << "only the items below the count exist";
      break;
    }
    EXPECT_FALSE(ep::Failed(endpoint->GetFriendlyName(&name)));
    names.push_back(name);
  }
  return names;
}

// Parts are listed in order; a part that cannot enumerate is left out, not the whole list.
TEST(CombinedDevicesTest, EndpointsOfEveryWorkingPartInOrder) {
  sim::SimEndpointSystem cards({.endpoints = {{.name = u"DAC"}, {.name = u"HDMI"}}});
  sim::SimEndpointSystem broken({.failEnumerate = true, .endpoints = {{.name = u"Lost"}}});
  sim::SimEndpointSystem unmade({.failCreate = true, .endpoints = {{.name = u"Lost"}}});
  sim::SimEndpointSystem file({.endpoints = {{.name = u"File output"}}});
  platform::CombinedEndpointSystem all({&cards, &broken, &unmade, &file});
  EXPECT_THAT(Names(all), ElementsAreArray({u"DAC", u"HDMI", u"File output"}));
  platform::CombinedEndpointSystem none({&unmade});
  std::unique_ptr<ep::Enumerator> enumerator;
  EXPECT_TRUE(ep::Failed(none.CreateEnumerator(&enumerator)));
}

TEST(CombinedDevicesTest, DriversOfEveryPartUnderOneKey) {
  sim::SimDriverRegistry cards({.drivers = {{.description = u"DAC"}, {.description = u"USB"}}});
  sim::SimDriverRegistry missing({.noKey = true});
  sim::SimDriverRegistry file(
      {.drivers = {{.description = u"File output",
                    .clsidText = u"{00000000-0000-0000-0000-0000000000F1}"}}});
  platform::CombinedDriverRegistry all({&cards, &missing, &file});
  std::unique_ptr<platform::driver::DriverKey> key = all.OpenDriversKey();
  ASSERT_NE(key, nullptr);
  std::vector<std::u16string> names;
  for (std::u16string name; key->EnumKey(static_cast<std::uint32_t>(names.size()), &name);)
    names.push_back(name);
  EXPECT_THAT(names, ElementsAreArray({u"DAC", u"USB", u"File output"}));
  std::u16string clsid;
  ASSERT_NE(key->OpenKey(u"File output"), nullptr);
  ASSERT_TRUE(key->OpenKey(u"File output")->QueryValue(u"CLSID", &clsid));
  EXPECT_NE(all.CreateInstance(*platform::driver::ClassIdFromString(clsid)), nullptr);
  EXPECT_EQ(key->OpenKey(u"Nothing"), nullptr);
  EXPECT_EQ(platform::CombinedDriverRegistry({&missing}).OpenDriversKey(), nullptr);
}

}  // namespace
}  // namespace lumaro::testing
