#include "dsp/loudness_normalize.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "dsp/half_wave_limiter.h"
#include "dsp/level_sum.h"
#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::RealSamples;
using lumaro::testing::SwellingNoise;
using ::testing::ElementsAreArray;

TEST(LoudnessNormalizeTest, GainFromTheMeanPerFrame) {
  const std::tuple<const char*, double, double, std::uint32_t, std::uint32_t, double> cases[] = {
      // Both channels count in one mean per frame: 0.1 + 0.1 gives 0.2.
      {"constant 0.1, ARV", 0.1, 0.1, 126, 0, 0.63},
      {"constant 0.1, RMS", 0.1, -0.1, 126, 1, 0.8909545442950499},
      {"silence is unchanged", 0.0, 0.0, 126, 1, 1.0},
      {"one silent channel", 0.5, 0.0, 800, 0, 0.8 / 0.5},
      {"any nonzero type is RMS", 0.25, 0.25, 500, 7, 0.5 / std::sqrt(0.125)},
  };
  for (const auto& [name, left, right, level, type, gain] : cases) {
    std::vector<double> in;
    for (int i = 0; i < 1001; ++i) in.insert(in.end(), {left, right});
    BufferSlot slot = AudioSlot(in);
    ASSERT_EQ(LoudnessNormalize(slot, level, type, platform::StopWord{}), kOk) << name;
    const std::vector<double> out = RealSamples(slot);
    for (std::size_t k = 0; k < out.size(); ++k) {
      ASSERT_NEAR(out[k], in[k] * gain, 1e-8) << name << " at " << k;
    }
  }
}

// The level is a sum of integer terms, taken four at a time by the vector unit where the
// processor has one (and each alone past full scale or where it is not a number): the gain must
// be exactly the one the terms added one by one give.
TEST(LoudnessNormalizeTest, GainIsExactlyTheOneOfTheTermsAddedOneByOne) {
  const std::vector<double> wild = {1.0, -1.0, 1.5, NAN, -0.0, 3.0};
  std::vector<double> in;
  for (int i = 0; i < 8001; ++i) {
    in.push_back(i % 250 == 7 ? wild[(i / 250) % wild.size()] : std::sin(0.61 * i * i));
  }
  in.push_back(0.0);  // 4001 frames
  for (const std::uint32_t type : {0U, 1U}) {
    Sum128 total = 0;
    for (const double x : in)
      total += TruncateToU64((type != 0 ? x * x : std::fabs(x)) * kTwoPow31);
    const double mean = ToDouble(total / (in.size() / 2)) * kTwoPowMinus31;
    const double gain = (126 / 1000.0) / (type != 0 ? std::sqrt(mean) : mean);
    BufferSlot slot = AudioSlot(in);
    ASSERT_EQ(LoudnessNormalize(slot, 126, type, platform::StopWord{}), kOk);
    const std::vector<double> out = RealSamples(slot);
    for (std::size_t k = 0; k < in.size(); ++k) {
      if (!std::isnan(in[k])) {
        EXPECT_EQ(out[k], in[k] * gain) << "type " << type << " at " << k;
      }
    }
  }
}

// Level terms of wild float samples saturate instead of overflowing a conversion.
TEST(LevelTermTest, TruncateToU64Saturates) {
  const std::pair<double, std::uint64_t> cases[] = {
      {0.0, 0},
      {-0.0, 0},
      {0.999, 0},
      {2147483648.75, 2147483648U},
      {NAN, 0},
      {9223372036854775808.0, 9223372036854775808U},  // 2^63 takes the unsigned path
      {1e300, UINT64_MAX},
      {INFINITY, UINT64_MAX},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TruncateToU64(in), out) << in;
}

TEST(HalfWaveLimiterTest, Table) {
  // A wave on one channel, and the same wave limited.
  const std::tuple<const char*, std::vector<double>, std::vector<double>> cases[] = {
      {"a peak of 1.25 is scaled by 0.8, its neighbours stay",
       {0.5, -0.9, 0.5, 1.25, 0.25, -0.9, 0.3},
       {0.5, -0.9, 0.4, 1.0, 0.2, -0.9, 0.3}},
      {"exactly 1.0 is not scaled", {1.0, 0.5, -1.0, -0.25}, {1.0, 0.5, -1.0, -0.25}},
      {"a zero joins a positive and a negative run into one half-wave",
       {0.5, 2.0, 0.0, -0.5, -1.0, 0.3},
       {0.25, 1.0, 0.0, -0.25, -0.5, 0.3}},
      {"the last half-wave is limited too", {0.5, -0.5, 3.0, 1.5}, {0.5, -0.5, 1.0, 0.5}},
      {"a first sample alone", {-2.0, 0.5, 0.25}, {-1.0, 0.5, 0.25}},
      {"one half-wave over the whole channel", {4.0, 2.0, 1.0}, {1.0, 0.5, 0.25}},
      {"tiny opposite samples split although their product underflows",
       {3.0, 1e-200, -1e-200, -0.5},
       {1.0, 1e-200 * (1.0 / 3.0), -1e-200, -0.5}},
  };
  for (const auto& [name, wave, limited] : cases) {
    // The right channel carries the same wave negated: signs do not matter.
    std::vector<double> in, left, right;
    for (const double x : wave) in.insert(in.end(), {x, -x});
    BufferSlot slot = AudioSlot(in);
    ASSERT_EQ(HalfWaveLimiter(slot, platform::StopWord{}), kOk) << name;
    const std::vector<double> out = RealSamples(slot);
    for (std::size_t k = 0; k < out.size(); k += 2) {
      left.push_back(out[k]);
      right.push_back(-out[k + 1]);
    }
    EXPECT_THAT(left, ElementsAreArray(limited)) << name;
    EXPECT_THAT(right, ElementsAreArray(limited)) << name;
  }
}

// The limiter written straight from its definition: walk every sample of one channel of the
// interleaved `x`, close a half-wave at each strict sign change and at the end, scale it when its
// peak exceeds 1.0.
void ReferenceLimit(std::vector<double>& x, std::size_t channel) {
  std::size_t start = channel;
  double peak = 0.0;
  auto close = [&](std::size_t end) {
    for (std::size_t j = start; j < end && peak > 1.0; j += 2) x[j] *= 1.0 / peak;
  };
  for (std::size_t k = channel; k < x.size(); k += 2) {
    if (k > 1 && ((x[k - 2] < 0.0 && x[k] > 0.0) || (x[k - 2] > 0.0 && x[k] < 0.0))) {
      close(k);
      start = k;
      peak = 0.0;
    }
    peak = std::max(peak, std::fabs(x[k]));
  }
  close(x.size());
}

TEST(HalfWaveLimiterTest, MatchesTheDefinitionOnNoiseWithZerosAndOvershoots) {
  std::vector<double> in = SwellingNoise(200'000, 1.6, 5);
  for (std::size_t k = 0; k < in.size(); k += 7) in[k] = 0.0;  // zeros joining half-waves
  for (std::size_t k = 3; k < in.size(); k += 101) in[k] = in[k] < 0 ? -1.0 : 1.0;
  std::vector<double> expected = in;
  ReferenceLimit(expected, 0);
  ReferenceLimit(expected, 1);

  BufferSlot slot = AudioSlot(in);
  ASSERT_EQ(HalfWaveLimiter(slot, platform::StopWord{}), kOk);
  EXPECT_TRUE(RealSamples(slot) == expected);
  EXPECT_NE(expected, in);  // some half-waves were limited
}

}  // namespace
}  // namespace lumaro::dsp
