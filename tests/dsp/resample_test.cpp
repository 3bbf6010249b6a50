#include "dsp/resample.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <tuple>
#include <vector>

#include "dsp/clip_guard.h"
#include "dsp/cubic_kernel.h"
#include "dsp/decimate.h"
#include "dsp/float_to_output.h"
#include "dsp/interpolate.h"
#include "dsp/mirror_lead_in.h"
#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::Sine;
using lumaro::testing::StepsInPairs;
using ::testing::ElementsAreArray;

class WorkersTest : public ::testing::TestWithParam<unsigned> {
 protected:
  lumaro::testing::ScopedWorkerCount workers_{GetParam()};
  platform::StopWord stop_;
};

// The rates a change passes through, step by step.
std::vector<std::uint32_t> RatePath(std::uint32_t rate, std::uint32_t target) {
  std::vector<std::uint32_t> path;
  for (RateStep step = NextRateStep(rate, target); step.kind != RateStep::Kind::kNone;
       step = NextRateStep(rate, target)) {
    rate = step.kind == RateStep::Kind::kDecimate ? rate / step.value : step.value;
    path.push_back(rate);
    if (path.size() > 10) break;
  }
  return path;
}

TEST(RatePlanTest, StepsOfEachChange) {
  const std::tuple<std::uint32_t, std::uint32_t, std::vector<std::uint32_t>> cases[] = {
      {44100, 44100, {}},
      {44100, 48000, {48000}},
      {384000, 48000, {48000}},
      {96000, 44100, {48000, 88200, 44100}},
      {48000, 44100, {88200, 44100}},
      {768000, 352800, {384000, 705600, 352800}},
      {192000, 48000, {48000}},
      {176400, 44100, {44100}},
      {705600, 44100, {88200, 44100}},
      {96000, 8000, {12000, 16000, 8000}},
  };
  for (const auto& [from, to, path] : cases) {
    EXPECT_THAT(RatePath(from, to), ElementsAreArray(path)) << from << " -> " << to;
  }
}

TEST(InterpolateTest, PhaseTableSizesAndFrameCounts) {
  EXPECT_EQ(InterpolationPhases(44100, 48000), 160U);
  EXPECT_EQ(InterpolationPhases(44100, 88200), 2U);
  EXPECT_EQ(InterpolationPhases(48000, 44100), 147U);
  EXPECT_EQ(InterpolatedFrames(10, 44100, 48000), 10U);
  EXPECT_EQ(InterpolatedFrames(UINT64_MAX / 2, 8000, 6144000), 0U);  // past 63 bits
}

TEST_P(WorkersTest, DoublingKeepsEveryInputSampleAtEvenFrames) {
  const std::uint64_t frames = 3 * 44100 + 17;  // several whole-second slices and a rest
  BufferSlot slot = AudioSlot(44100, frames, Sine(1234.5, 44100, 0.7), Sine(50.0, 44100, -0.3));
  std::vector<double> input(slot.Get<AudioBuffer>()->Frame(0),
                            slot.Get<AudioBuffer>()->Frame(static_cast<std::int64_t>(frames)));
  ASSERT_EQ(Interpolate(slot, 88200, stop_), kOk);
  const AudioBuffer* out = slot.Get<AudioBuffer>();
  ASSERT_EQ(out->sampleRate, 88200U);
  ASSERT_EQ(out->frameCount, 2 * frames);
  for (std::uint64_t n = 0; n < frames; ++n) {
    ASSERT_EQ(out->Frame(static_cast<std::int64_t>(2 * n))[0], input[2 * n]) << n;
    ASSERT_EQ(out->Frame(static_cast<std::int64_t>(2 * n))[1], input[2 * n + 1]) << n;
  }
}

// Fits a sine of the expected frequency to the middle of the output: a changed frequency
// leaves a large residual, a changed level shows in the fitted amplitude.
struct SineFit {
  double amplitude;
  double residual;  // RMS of what the fitted sine does not explain, relative to the amplitude
};

SineFit FitSine(const AudioBuffer& b, double frequency, int channel) {
  const std::uint64_t first = b.frameCount / 4;
  const std::uint64_t last = 3 * b.frameCount / 4;
  double sumSin = 0, sumCos = 0;
  for (std::uint64_t n = first; n < last; ++n) {
    const double phase = 2.0 * M_PI * frequency * static_cast<double>(n) / b.sampleRate;
    const double x = b.Frame(static_cast<std::int64_t>(n))[channel];
    sumSin += x * std::sin(phase);
    sumCos += x * std::cos(phase);
  }
  const double count = static_cast<double>(last - first);
  const double s = 2 * sumSin / count, c = 2 * sumCos / count;
  double error = 0;
  for (std::uint64_t n = first; n < last; ++n) {
    const double phase = 2.0 * M_PI * frequency * static_cast<double>(n) / b.sampleRate;
    const double e =
        b.Frame(static_cast<std::int64_t>(n))[channel] - s * std::sin(phase) - c * std::cos(phase);
    error += e * e;
  }
  const double amplitude = std::hypot(s, c);
  return {amplitude, std::sqrt(error / count) / amplitude};
}

// The smallest and largest gain the cubic kernel gives a sine of `frequency` at `rate` over the
// interpolation phases: the fitted level must lie between them.
std::pair<double, double> KernelGainRange(double frequency, std::uint32_t rate) {
  const double omega = 2.0 * M_PI * frequency / rate;
  double low = 1e9, high = 0;
  for (int step = 0; step < 64; ++step) {
    const auto w = CubicWeights(step / 64.0);
    std::complex<double> h;
    for (int i = 0; i < 4; ++i) h += w[i] * std::polar(1.0, omega * (i - 1));
    low = std::min(low, std::abs(h));
    high = std::max(high, std::abs(h));
  }
  return {low, high};
}

TEST_P(WorkersTest, SineKeepsFrequencyAndLevelThroughTheLadder) {
  const std::uint32_t rates[] = {44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};
  for (std::uint32_t from : rates) {
    for (std::uint32_t to : rates) {
      const std::uint64_t frames = from / 5;
      BufferSlot slot = AudioSlot(from, frames, Sine(1000.0, from, 0.5), Sine(3000.0, from, 0.25));
      ASSERT_EQ(Resample(slot, to, stop_), kOk) << from << " -> " << to;
      const AudioBuffer* out = slot.Get<AudioBuffer>();
      ASSERT_EQ(out->sampleRate, to);
      EXPECT_NEAR(static_cast<double>(out->frameCount), frames * static_cast<double>(to) / from,
                  4.0);
      // The level stays within what the kernel does to the tone at the lower of the two rates,
      // plus the decimators' ripple; a wrong frequency or timing would leave most of the tone
      // unexplained, while the kernel's own images stay at a few percent.
      const std::uint32_t slower = std::min(from, to);
      for (const auto& [channel, frequency, amplitude] :
           {std::tuple{0, 1000.0, 0.5}, std::tuple{1, 3000.0, 0.25}}) {
        const SineFit fit = FitSine(*out, frequency, channel);
        const auto [low, high] =
            from == to ? std::pair{1.0, 1.0} : KernelGainRange(frequency, slower);
        EXPECT_GE(fit.amplitude, amplitude * (low - 2e-3)) << from << " -> " << to;
        EXPECT_LE(fit.amplitude, amplitude * (high + 2e-3)) << from << " -> " << to;
        EXPECT_LT(fit.residual, frequency / slower * 1.5) << from << " -> " << to;
      }
    }
  }
}

// The last rate step written block by block straight into the output record gives the bytes of
// Resample, ClipGuard and FloatToOutput run one after the other, for every kind of last step
// (interpolation, decimation, a chain, none), peaks above and below full scale, and each width.
TEST_P(WorkersTest, ResampleToOutputGivesTheStagesBytes) {
  const std::tuple<std::uint32_t, std::uint32_t, double, bool, OutputFormat> cases[] = {
      {44100, 48000, 1.7, true, {24, 32, false}},
      {44100, 192000, 0.5, true, {16, 16, false}},
      {96000, 44100, 1.3, true, {32, 32, true}},
      {192000, 48000, 2.5, false, {24, 24, false}},  // without the clip guard
      {48000, 44100, 0.999, true, {16, 32, false}},
      {88200, 44100, 1.2, true, {32, 32, false}},
      {44100, 44100, 3.0, true, {24, 32, false}},       // no rate change
      {44100, 96000, NAN, true, {24, 32, false}},       // a sample that is not a number
      {96000, 48000, INFINITY, true, {16, 16, false}},  // an infinite peak: gain 0
      {44100, 48000, -INFINITY, false, {32, 32, true}},
  };
  for (const auto& [from, to, amplitude, clipGuard, format] : cases) {
    // A finite amplitude scales the whole signal; any other value is one sample amid 0.8's.
    const auto signal = [from = from, amplitude = amplitude](std::uint64_t n) {
      const double a = std::isfinite(amplitude) ? amplitude : 0.8;
      if (!std::isfinite(amplitude) && n == 1000) return amplitude;
      return a * std::sin(0.05 * static_cast<double>(n)) * std::cos(static_cast<double>(n) / from);
    };
    const std::uint64_t frames = from * 5 / 2;  // a partial last second
    BufferSlot staged = AudioSlot(from, frames, signal);
    ASSERT_EQ(Resample(staged, to, stop_), kOk);
    if (clipGuard) {
      ASSERT_EQ(ClipGuard(staged, stop_), kOk);
    }
    ASSERT_EQ(FloatToOutput(staged, format.validBits, format.containerBits, format.asFloat, stop_),
              kOk);
    BufferSlot fused = AudioSlot(from, frames, signal);
    int conversions = 0;
    ASSERT_EQ(ResampleToOutput(
                  fused, to, clipGuard, format, [&] { ++conversions; }, stop_),
              kOk);
    EXPECT_EQ(conversions, 1);
    const PcmBuffer& a = *staged.Get<PcmBuffer>();
    const PcmBuffer& b = *fused.Get<PcmBuffer>();
    ASSERT_EQ(a.frameCount, b.frameCount) << from << " -> " << to;
    const std::size_t bytes = sizeof(PcmBuffer) + (a.frameCount + 2 * a.leadIn) * a.BytesPerFrame();
    EXPECT_EQ(std::memcmp(&a, &b, bytes), 0) << from << " -> " << to;
  }
}

TEST_P(WorkersTest, ResampleToOutputFailuresLeaveTheSlotEmpty) {
  // Target, widths, stop from the start, stop once the conversion's text is shown.
  const std::tuple<std::uint32_t, OutputFormat, bool, bool> cases[] = {
      {48000, {20, 24, false}, false, false},  // a width FloatToOutput refuses
      {1411201, {24, 32, false}, false, false}, {48000, {24, 32, false}, true, false},
      {44100, {24, 32, false}, true, false},    {48000, {24, 32, false}, false, true},
      {22050, {16, 16, false}, false, true},
  };
  for (const auto& [target, format, stopFirst, stopLater] : cases) {
    platform::StopWord stop;
    stop.Store(stopFirst ? 1 : 0);
    BufferSlot slot = AudioSlot(44100, 44100, [](std::uint64_t) { return 0.25; });
    const auto convert = [&stop, later = stopLater] {
      if (later) stop.Store(1);
    };
    EXPECT_NE(ResampleToOutput(slot, target, true, format, convert, stop), kOk) << target;
    EXPECT_TRUE(slot.Empty()) << target;
  }
}

INSTANTIATE_TEST_SUITE_P(Workers, WorkersTest, ::testing::Values(1U, 3U));

TEST(DecimateTest, FrameCountsAndAConstant) {
  platform::StopWord stop;
  for (const auto& [frames, factor, expected] :
       {std::tuple{100U, 2U, 50U}, {101U, 2U, 50U}, {99U, 8U, 12U}, {7U, 4U, 1U}}) {
    BufferSlot slot = AudioSlot(96000, frames, [](std::uint64_t) { return 0.25; });
    ASSERT_EQ(Decimate(slot, factor, stop), kOk);
    const AudioBuffer* out = slot.Get<AudioBuffer>();
    EXPECT_EQ(out->frameCount, expected);
    EXPECT_EQ(out->sampleRate, 96000 / factor);
    EXPECT_EQ(out->leadIn, 48U);
    // The mirrored lead-ins make the constant reach the very ends; the filter sums to 0.999997.
    EXPECT_NEAR(out->Frame(0)[0], 0.25 * 0.999997, 1e-6);
    EXPECT_NEAR(out->Frame(static_cast<std::int64_t>(expected) - 1)[1], 0.25 * 0.999997, 1e-6);
  }
}

// Runs of output frames go two at a time through the processor's vector unit where it has one,
// single frames one by one: every frame of a run (an odd count, so with a tail) must have the
// bits it has alone.
TEST(DecimateTest, RunsEqualTheirFramesFilteredOneByOne) {
  BufferSlot slot = AudioSlot(96000, 200, [](std::uint64_t i) { return std::sin(0.37 * i * i); });
  AudioBuffer& in = *slot.Get<AudioBuffer>();
  for (const std::uint32_t factor : {2U, 4U, 8U}) {
    constexpr std::uint64_t kFirst = 3;
    constexpr std::uint64_t kCount = 9;
    std::vector<double> run(2 * kCount);
    DecimateRange(in, factor, kFirst, kCount, run.data(), platform::StopWord{});
    for (std::uint64_t f = 0; f < kCount; ++f) {
      double alone[2];
      DecimateRange(in, factor, kFirst + f, 1, alone, platform::StopWord{});
      EXPECT_EQ(std::memcmp(&run[2 * f], alone, sizeof alone), 0) << factor << ": frame " << f;
    }
  }
}

// A decimation that is not the last step writes over its own input: every output frame must be
// the one the filter makes from an untouched copy of the input, whatever the length.
TEST(DecimateTest, InPlaceEqualsTheFilterOnAnUntouchedCopy) {
  platform::StopWord stop;
  const auto noise = [](std::uint64_t i) { return std::sin(0.37 * i * i) * std::cos(0.011 * i); };
  for (const std::uint32_t factor : {2U, 4U, 8U}) {
    for (const std::uint64_t outputs : {1U, 15U, 16U, 17U, 300U}) {
      const std::uint64_t frames = outputs * factor + factor - 1;
      BufferSlot copy = AudioSlot(96000, frames, noise);
      AudioBuffer& untouched = *copy.Get<AudioBuffer>();
      MirrorLeadIn(untouched);
      std::vector<double> expected(2 * outputs);
      DecimateRange(untouched, factor, 0, outputs, expected.data(), stop);
      BufferSlot slot = AudioSlot(96000, frames, noise);
      ASSERT_EQ(Decimate(slot, factor, stop), kOk);
      EXPECT_EQ(lumaro::testing::RealSamples(slot), expected) << factor << ": " << outputs;
    }
  }
}

TEST(InterpolateTest, FallingTargetKeepsTheTiming) {
  // Used directly towards a lower rate the input position moves by more than one frame per
  // output frame, so a low sine keeps its frequency.
  platform::StopWord stop;
  BufferSlot slot = AudioSlot(96000, 9600, Sine(200.0, 96000, 0.5));
  ASSERT_EQ(Interpolate(slot, 44100, stop), kOk);
  const AudioBuffer* out = slot.Get<AudioBuffer>();
  ASSERT_EQ(out->frameCount, 4410U);
  const SineFit fit = FitSine(*out, 200.0, 0);
  EXPECT_NEAR(fit.amplitude, 0.5, 1e-3);
  EXPECT_LT(fit.residual, 1e-3);
}

// The bound on an interpolation's output holds every frame it makes, and says when full scale
// cannot be passed (the 1-bit modulation then skips measuring the interpolation's peak): steps of
// ±a in pairs rise to 1.5 a between them, where the cubic phase at one half weighs 1.5 in all.
TEST(InterpolateTest, PeakBoundHoldsEveryFrameAndSaysWhenFullScaleCannotBePassed) {
  // Source rate, target rate, amplitude, whether the bound stays within full scale.
  const std::tuple<std::uint32_t, std::uint32_t, double, bool> cases[] = {
      {44100, 352800, 0.6, true},  {44100, 352800, 0.9, false}, {48000, 352800, 0.66, true},
      {96000, 705600, 0.7, false}, {44100, 1411200, 0.5, true},
  };
  platform::StopWord stop;
  for (const auto& [source, target, amplitude, within] : cases) {
    BufferSlot slot =
        AudioSlot(source, 4000, StepsInPairs(amplitude), Sine(1000.0, source, amplitude));
    AudioBuffer& in = *slot.Get<AudioBuffer>();
    MirrorLeadIn(in);
    InterpolationPlan plan;
    ASSERT_EQ(PlanInterpolation(in, target, plan), kOk);
    std::vector<double> out(2 * plan.frames);
    InterpolateFrames(in, plan, 0, plan.frames, out.data(), stop);
    double peak = 0.0;
    for (const double x : out) peak = std::max(peak, std::fabs(x));
    const double bound = InterpolationPeakBound(in, plan, stop);
    EXPECT_GE(bound, peak) << source << " -> " << target;
    EXPECT_LE(bound, 1.5 * amplitude * (1 + 1e-9)) << source << " -> " << target;
    EXPECT_EQ(bound <= 1.0, within) << source << " -> " << target << ": " << bound;
  }
}

}  // namespace
}  // namespace lumaro::dsp
