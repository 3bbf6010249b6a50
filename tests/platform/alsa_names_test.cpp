// How the ALSA backends name and route the devices of ALSA's hints.
#include <gtest/gtest.h>

#include "platform/alsa/alsa_pcm.h"

namespace lumaro::platform::alsa {
namespace {

TEST(AlsaNamesTest, FriendlyNamesKeepASecondLineOnlyWhereItNamesSomething) {
  const std::pair<const char*, const char16_t*> kCases[] = {
      {"USB DAC", u"USB DAC"},
      {"HDA Intel PCH, ALC892 Analog\nDirect hardware device without any conversions",
       u"HDA Intel PCH, ALC892 Analog"},
      {"My DAC\nCoaxial out", u"My DAC, Coaxial out"},
      {"My DAC\nCoaxial out\nthird line", u"My DAC, Coaxial out"},
      {"Mixer\nDirect sample mixing device", u"Mixer"},
  };
  for (const auto& [description, friendly] : kCases) EXPECT_EQ(FriendlyName(description), friendly);
}

TEST(AlsaNamesTest, AliasesAreToldFromDevices) {
  for (const char* alias : {"default", "sysdefault:CARD=PCH", "plughw:CARD=PCH,DEV=0", "dmix",
                            "surround51:CARD=PCH,DEV=0", "iec958:CARD=PCH", "pipewire", "null"})
    EXPECT_TRUE(IsAliasName(alias)) << alias;
  for (const char* device : {"hw:CARD=PCH,DEV=0", "mydac", "defaultish", "usbdac:CARD=X"})
    EXPECT_FALSE(IsAliasName(device)) << device;
}

// "Share" reaches the device it is listed for: the system's default only for the one device the
// default plays to.
TEST(AlsaNamesTest, SharedPlaybackGoesThroughTheMixingPathOfThatDevice) {
  struct Case {
    const char* pcm;
    int card, defaultCard, defaultDevice;
    const char* shared;
  };
  const Case kCases[] = {
      {"hw:CARD=PCH,DEV=0", 0, 0, 0, "default"},
      {"hw:CARD=PCH,DEV=3", 0, 0, 0, "plug:'dmix:CARD=PCH,DEV=3'"},
      {"hw:CARD=USB,DEV=0", 1, 0, 0, "plug:'dmix:CARD=USB,DEV=0'"},
      {"hw:CARD=USB,DEV=0", 1, 1, 0, "default"},
      {"hw:CARD=PCH,DEV=0", 0, 1, 0, "plug:'dmix:CARD=PCH,DEV=0'"},
      {"mydac", -1, 0, 0, "plug:'mydac'"},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(SharedPcmOf(c.pcm, c.card, c.defaultCard, c.defaultDevice), c.shared) << c.pcm;
}

}  // namespace
}  // namespace lumaro::platform::alsa
