#include "dsp/peak_normalize.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/pcm_buffer.h"
#include "dsp/worker_count.h"
#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::RealSamples;
using lumaro::testing::SwellingNoise;
using ::testing::ElementsAreArray;

TEST(PeakNormalizeTest, Table) {
  struct Case {
    const char* name;
    std::uint32_t target;
    std::vector<double> in, out;
  } const cases[] = {
      {"target 100, peak 0.5 doubles", 100, {0.5, -0.25, 0.125, 0.0}, {1.0, -0.5, 0.25, 0.0}},
      {"target 100, peak 2.0 halves", 100, {2.0, -1.0, 0.5, 0.25}, {1.0, -0.5, 0.25, 0.125}},
      {"target 50, peak 1.0", 50, {1.0, 0.5, -0.25, 0.0}, {0.5, 0.25, -0.125, 0.0}},
      {"the sign of the peak does not matter", 100, {0.4, -0.8, 0.2, 0.0}, {0.5, -1.0, 0.25, 0.0}},
      {"silence stays silent", 100, {0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}},
      {"target 0 gives silence", 0, {0.4, -0.8, 0.2, 0.1}, {0.0, -0.0, 0.0, 0.0}},
      {"a subnormal peak still gives finite samples",
       100,
       {5e-324, 0.0, -5e-324, 0.0},
       {1.0, 0.0, -1.0, 0.0}},
  };
  for (const auto& c : cases) {
    BufferSlot slot = AudioSlot(c.in);
    ASSERT_EQ(PeakNormalize(slot, c.target, platform::StopWord{}), kOk) << c.name;
    EXPECT_THAT(RealSamples(slot), ElementsAreArray(c.out)) << c.name;
  }
}

TEST(PeakNormalizeTest, SameResultForAnyNumberOfWorkers) {
  std::vector<double> in = SwellingNoise(50'001, 0.7, 11);
  in[2 * 49'999 + 1] = -0.9;  // the peak in the last slice
  std::vector<std::vector<double>> outs;
  for (const unsigned workers : {1U, 3U, 8U}) {
    SetWorkerCountOverride(workers);
    BufferSlot slot = AudioSlot(in);
    ASSERT_EQ(PeakNormalize(slot, 90, platform::StopWord{}), kOk);
    outs.push_back(RealSamples(slot));
  }
  SetWorkerCountOverride(0);
  EXPECT_DOUBLE_EQ(outs[0][2 * 49'999 + 1], -0.9);
  for (std::size_t i = 1; i < outs.size(); ++i) EXPECT_EQ(outs[i], outs[0]);
}

TEST(PeakNormalizeTest, FailuresLeaveTheSlotEmpty) {
  {
    BufferSlot slot = AudioSlot({0.5, 0.5});
    platform::StopWord stop{1};
    EXPECT_NE(PeakNormalize(slot, 100, stop), kOk);
    EXPECT_TRUE(slot.Empty());
  }
  PcmBufferPtr pcm;
  ASSERT_EQ(NewPcmBuffer(pcm, kPcmInteger, 2, 16, 44100, 4), kOk);
  BufferSlot wrongKind;
  wrongKind.Put(std::move(pcm));
  EXPECT_NE(PeakNormalize(wrongKind, 100, platform::StopWord{}), kOk);
  EXPECT_TRUE(wrongKind.Empty());
}

}  // namespace
}  // namespace lumaro::dsp
