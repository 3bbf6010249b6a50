#include "dsp/compress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <vector>

#include "dsp/mirror_lead_in.h"
#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::RealSamples;
using lumaro::testing::SwellingNoise;

TEST(CompressWindowTest, LengthAndOffset) {
  // Rate, cell size, time lag balance; window length and offset.
  const std::array<std::uint32_t, 5> cases[] = {
      {44100, 2000, 50, 88200, 44100},  // a window of 88,201 frames centred on the frame
      {8000, 100, 50, 800, 400},
      {8000, 100, 100, 800, 0},      // the whole window at and after the frame
      {8000, 100, 0, 800, 800},      // the whole window at and before it
      {44100, 123, 37, 5424, 3417},  // floors: 44100 × 123 / 1000 = 5424.3, 63 % of 5424
      {400, 100, 50, 48, 24},        // never shorter than 48 frames
  };
  for (const auto& [rate, cell, balance, length, offset] : cases) {
    const CompressWindow w = CompressWindowFor(rate, cell, balance);
    EXPECT_EQ(w.length, length) << rate << " Hz, " << cell << " ms";
    EXPECT_EQ(w.offset, offset) << rate << " Hz, " << cell << " ms, " << balance;
  }
}

TEST(CompressGainRuleTest, Table) {
  const CompressParameters defaults;  // threshold 80, downward 0, upward 50, max 800
  const CompressParameters full{.downward = 100, .upward = 100};
  const std::tuple<const char*, CompressParameters, double, double> cases[] = {
      {"quiet window lifted half way", defaults, 0.01, 4.5},
      {"level exactly at the threshold", defaults, 0.08, 1.0},
      {"downward 0 leaves loud windows alone", defaults, 0.5, 1.0},
      {"silence gives no gain", defaults, 0.0, 0.0},
      {"downward 100 brings a loud window to T", full, 0.16, 0.5},
      {"upward 100 lifts to T", full, 0.02, 4.0},
      {"maximum amplification caps the lift", full, 0.001, 8.0},
  };
  for (const auto& [name, p, level, gain] : cases) {
    EXPECT_DOUBLE_EQ(CompressGainRule::From(p).GainFor(level), gain) << name;
  }
}

// Tracks whose window level is the same everywhere: the output is the input times one gain.
TEST(CompressTest, SteadyTracks) {
  // T = 0.125 in the first row: exactly a power of two, as are the levels below. Expected is
  // |output sample|, with the input's sign.
  const std::tuple<const char*, CompressParameters, double, double, double, double> cases[] = {
      {"level exactly T is unchanged", {.threshold = 125}, 0.125, -0.125, 0.125, 0.0},
      {"silence stays silent", {}, 0.0, 0.0, 0.0, 0.0},
      {"quiet 0.01 lifted by 4.5", {}, 0.01, 0.01, 0.045, 1e-9},
      {"loud 0.5 brought down to T", {.threshold = 100, .downward = 100}, 0.5, -0.5, 0.1, 1e-12},
  };
  for (const std::uint32_t type : {0U, 1U}) {
    for (const auto& [name, parameters, left, right, expected, tolerance] : cases) {
      CompressParameters p = parameters;
      p.loudnessType = type;
      std::vector<double> in;
      for (int i = 0; i < 3000; ++i) {
        const double sign = (i % 3 == 0) ? -1.0 : 1.0;  // signs do not change a level
        in.insert(in.end(), {sign * left, sign * right});
      }
      BufferSlot slot = AudioSlot(in, 8000);
      ASSERT_EQ(Compress(slot, p, platform::StopWord{}), kOk) << name << ", type " << type;
      const std::vector<double> out = RealSamples(slot);
      ASSERT_EQ(out.size(), in.size());
      for (std::size_t k = 0; k < out.size(); ++k) {
        ASSERT_NEAR(out[k], std::copysign(expected, in[k]), tolerance) << name << " " << k;
      }
    }
  }
}

// The stage computed from its definition: the input clip-guarded, exact prefix sums of the terms
// over the mirrored track, each frame's window sum taken directly from them, then the gain and
// the clip guard.
std::vector<double> ReferenceCompress(std::vector<double> in, std::uint32_t rate,
                                      const CompressParameters& p) {
  const std::uint64_t n = in.size() / 2;
  double inPeak = 0.0;
  for (const double x : in) inPeak = std::max(inPeak, std::fabs(x));
  for (double& x : in) x *= inPeak > 1.0 ? 1.0 / inPeak : 1.0;
  const CompressWindow w = CompressWindowFor(rate, p.cellSize, p.timeLagBalance);
  const auto m = static_cast<std::int64_t>(w.length);
  const auto o = static_cast<std::int64_t>(w.offset);
  auto at = [&](std::int64_t j, int c) {  // mirrored frame j, channel c
    return in[2 * MirroredFrame(j, n) + c];
  };
  const bool rms = p.loudnessType != 0;
  auto term = [&](std::int64_t j) -> Size128 {
    Size128 t = 0;
    for (int c = 0; c < 2; ++c) {
      const double x = at(j, c);
      t += rms ? static_cast<std::uint64_t>(x * x * 4611686018427387904.0)
               : static_cast<std::uint64_t>(std::fabs(x) * 2147483648.0);
    }
    return t;
  };
  std::vector<Size128> prefix(n + 2 * m + 1, 0);  // prefix[j + m] = Σ terms of frames < j
  for (std::int64_t j = -m; j < static_cast<std::int64_t>(n) + m; ++j) {
    prefix[j + m + 1] = prefix[j + m] + term(j);
  }
  const CompressGainRule rule = CompressGainRule::From(p);
  const Size128 count = 2 * static_cast<Size128>(m + 1);
  std::vector<double> out(in.size());
  double peak = 0.0;
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(n); ++i) {
    const Size128 sum = prefix[i - o + m + 1 + m] - prefix[i - o + m];
    const double level =
        rms ? std::sqrt(static_cast<double>(static_cast<std::uint64_t>(sum / count))) *
                  4.656612873077393e-10
            : static_cast<double>(static_cast<std::uint64_t>(sum)) * 4.656612873077393e-10 /
                  static_cast<double>(count);
    const double g = rule.GainFor(level);
    for (int c = 0; c < 2; ++c) {
      out[2 * i + c] = g == 0.0 ? 0.0 : g * in[2 * i + c];
      peak = std::max(peak, std::fabs(out[2 * i + c]));
    }
  }
  for (double& x : out) x *= peak > 1.0 ? 1.0 / peak : 1.0;  // × 1.0 leaves x as it is
  return out;
}

// The running window sums must equal the direct ones exactly: the output is bit for bit the
// reference's, for any number of workers. The output is written over the track, so each row tries
// a way to read a frame after it is overwritten: windows across many slices, a window wholly after
// (balance 100) or before (0) its frame, a window's back a few frames behind it, a track shorter
// than its window (its mirror images read more than once, the first window reaching past the
// track's end), an input the guard scales.
TEST(CompressTest, RunningSumsEqualDirectWindowSums) {
  constexpr std::uint32_t kRate = 8000;  // a window of 1,200 frames
  // Frames, balance, input peak, workers.
  const std::tuple<std::uint64_t, std::uint32_t, double, unsigned> cases[] = {
      {1'200'007, 37, 0.95, 1}, {300'001, 100, 0.95, 3}, {300'001, 0, 1.5, 3},
      {300'001, 99, 0.95, 3},   {300'001, 63, 0.95, 63}, {700, 37, 0.95, 1},
      {700, 100, 0.95, 1}};
  for (const auto& [frames, balance, peak, workers] : cases) {
    const testing::ScopedWorkerCount workerCount(workers);
    for (const std::uint32_t type : {0U, 1U}) {
      const CompressParameters p{.downward = 60,
                                 .upward = 100,
                                 .maxAmplification = 2000,
                                 .cellSize = 150,
                                 .timeLagBalance = balance,
                                 .loudnessType = type};
      const std::vector<double> in = SwellingNoise(frames, peak, 7 + type);
      const std::vector<double> expected = ReferenceCompress(in, kRate, p);
      BufferSlot slot = AudioSlot(in, kRate);
      ASSERT_EQ(Compress(slot, p, platform::StopWord{}), kOk);
      const std::vector<double> out = RealSamples(slot);
      ASSERT_EQ(out.size(), expected.size());
      std::size_t differing = 0, first = 0;
      for (std::size_t k = 0; k < out.size(); ++k) {
        if (out[k] != expected[k] && differing++ == 0) first = k;
      }
      EXPECT_EQ(differing, 0U) << frames << " frames, balance " << balance << ", " << workers
                               << " workers, type " << type << ", first at sample " << first << ": "
                               << out[first] << " != " << expected[first];
    }
  }
}

}  // namespace
}  // namespace lumaro::dsp
