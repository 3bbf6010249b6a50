#include "dsp/peak_normalize.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::RealSamples;
using ::testing::ElementsAreArray;

TEST(PeakNormalizeTest, Table) {
  const std::tuple<const char*, std::uint32_t, std::vector<double>, std::vector<double>> cases[] = {
      {"target 100, peak 0.5 doubles", 100, {0.5, -0.25, 0.125, 0.0}, {1.0, -0.5, 0.25, 0.0}},
      {"target 100, peak 2.0 halves", 100, {2.0, -1.0, 0.5, 0.25}, {1.0, -0.5, 0.25, 0.125}},
      {"target 50, peak 1.0", 50, {1.0, 0.5, -0.25, 0.0}, {0.5, 0.25, -0.125, 0.0}},
      {"the sign of the peak does not matter", 100, {0.4, -0.8, 0.2, 0.0}, {0.5, -1.0, 0.25, 0.0}},
      {"silence stays silent", 100, {0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}},
      {"target 0 gives silence", 0, {0.4, -0.8, 0.2, 0.1}, {0.0, -0.0, 0.0, 0.0}},
      {"a subnormal peak: finite", 100, {5e-324, 0.0, -5e-324, 0.0}, {1.0, 0.0, -1.0, 0.0}},
  };
  for (const auto& [name, target, in, out] : cases) {
    BufferSlot slot = AudioSlot(in);
    ASSERT_EQ(PeakNormalize(slot, target, platform::StopWord{}), kOk) << name;
    EXPECT_THAT(RealSamples(slot), ElementsAreArray(out)) << name;
  }
}

}  // namespace
}  // namespace lumaro::dsp
