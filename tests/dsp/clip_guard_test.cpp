#include "dsp/clip_guard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::RealSamples;

TEST(ClipGuardTest, Table) {
  const std::tuple<const char*, std::vector<double>, std::vector<double>> cases[] = {
      {"peak exactly 1.0 is left alone", {0.5, -1.0, 0.25, 1.0}, {0.5, -1.0, 0.25, 1.0}},
      {"peak 2.0 halves every sample", {0.5, -2.0, 1.0, 2.0}, {0.25, -1.0, 0.5, 1.0}},
      {"negative peak counts by magnitude", {0.0, 0.0, -4.0, 1.0}, {0.0, 0.0, -1.0, 0.25}},
      {"silence stays silence", {0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}},
  };
  for (const auto& [name, in, out] : cases) {
    // Lead-in frames of 7.0 on both sides: a stage touching them is caught.
    BufferSlot slot = AudioSlot(in, 44100, 2);
    AudioBuffer* b = slot.Get<AudioBuffer>();
    const auto frames = static_cast<std::int64_t>(b->frameCount);
    for (std::int64_t i : {std::int64_t{-2}, std::int64_t{-1}, frames, frames + 1})
      b->Frame(i)[0] = b->Frame(i)[1] = 7.0;
    ASSERT_EQ(ClipGuard(slot, platform::StopWord{}), kOk) << name;
    EXPECT_EQ(RealSamples(slot), out) << name;
    EXPECT_EQ(b->Frame(-1)[0], 7.0) << name;
    EXPECT_EQ(b->Frame(frames)[1], 7.0) << name;
  }
}

// The peak is taken in several lanes at once: wherever the largest magnitude and the samples
// that are not numbers lie, it is the largest |x| of the numbers.
TEST(ClipGuardTest, PeakOfSamplesIsTheLargestMagnitudeWhereverItLies) {
  for (std::uint64_t frames = 1; frames <= 11; ++frames) {
    for (std::uint64_t at = 0; at < 2 * frames; ++at) {
      std::vector<double> samples(2 * frames, 0.25);
      for (std::uint64_t i = at % 3; i < samples.size(); i += 3) samples[i] = std::nan("");
      samples[at] = -0.75;
      EXPECT_EQ(PeakOfSamples(samples.data(), frames, platform::StopWord{}), 0.75)
          << frames << " frames, peak at " << at;
    }
  }
}

}  // namespace
}  // namespace lumaro::dsp
