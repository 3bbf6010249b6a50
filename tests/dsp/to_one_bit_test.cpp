#include "dsp/to_one_bit.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstring>
#include <tuple>
#include <vector>

#include "dsp/resample.h"
#include "dsp/worker_count.h"
#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::Flat;
using lumaro::testing::Sine;
using lumaro::testing::StepsInPairs;

using lumaro::testing::ScopedWorkerCount;
const platform::StopWord stop_;

// 1-bit sample i of a channel, in time order.
int Bit(const DsdBuffer& dsd, int channel, std::uint64_t i) {
  return (dsd.Data()[2 * (i / 8) + channel] >> (i % 8)) & 1;
}

std::uint64_t Ones(const DsdBuffer& dsd, int channel, std::uint64_t first, std::uint64_t count) {
  std::uint64_t ones = 0;
  for (std::uint64_t i = first; i < first + count; ++i) ones += Bit(dsd, channel, i);
  return ones;
}

TEST(ToOneBitTest, RatePlansAndLengths) {
  // Source rate, DSD rate, frames, length.
  const std::array<std::uint32_t, 4> cases[] = {
      {44100, 2822400, 441, 441 * 8},    // interpolated once to 352800, a byte per frame
      {352800, 5644800, 1000, 2000},     // no rate change, two bytes per frame
      {768000, 2822400, 7680, 3528},     // 384000, 705600, 352800
      {48000, 11289600, 480, 7056 * 2},  // up to 705600, R = 16
      {44100, 22579200, 100, 3200 * 2},  // up to 1411200
  };
  for (const auto& [sourceRate, dsdRate, frames, length] : cases) {
    BufferSlot slot = AudioSlot(sourceRate, frames, Sine(1000, sourceRate, 0.3));
    ASSERT_EQ(ToOneBit(slot, dsdRate, stop_), kOk) << sourceRate << " " << dsdRate;
    const DsdBuffer* dsd = slot.Get<DsdBuffer>();
    ASSERT_NE(dsd, nullptr);
    EXPECT_EQ(dsd->dsdRate, dsdRate);
    EXPECT_EQ(dsd->length, length) << sourceRate << " " << dsdRate;
    EXPECT_EQ(dsd->Samples()[0], kDsdSilence);  // the lead-in stays silence
  }
}

// Constant input at a share of the ±1 swing m (halved first, and a peak above 1.0 limited to
// 1.0 first) gives ones in (1 + m) / 2 of the bits, and the loop stays stable; with three workers
// every slice of silence starts with a one, then a zero.
TEST(ToOneBitTest, ConstantInputsGiveTheirShareOfOnes) {
  ScopedWorkerCount workers(3);
  const std::tuple<double, double, std::uint32_t, std::uint64_t, double, double, double> cases[] = {
      {0.0, 0.0, 2822400, 30000, 0.5, 0.5, 1e-4},
      {0.5, 0.5, 5644800, 40000, 0.625, 0.625, 1e-4},
      {4.0, -4.0, 2822400, 20000, 0.75, 0.25, 1e-3},
  };
  for (const auto& [left, right, dsdRate, frames, leftOnes, rightOnes, tolerance] : cases) {
    BufferSlot slot = AudioSlot(352800, frames, Flat(left), Flat(right));
    ASSERT_EQ(ToOneBit(slot, dsdRate, stop_), kOk);
    const DsdBuffer& dsd = *slot.Get<DsdBuffer>();
    const std::uint64_t bits = frames * dsdRate / 352800;
    EXPECT_NEAR(static_cast<double>(Ones(dsd, 0, 0, bits)) / bits, leftOnes, tolerance);
    EXPECT_NEAR(static_cast<double>(Ones(dsd, 1, 0, bits)) / bits, rightOnes, tolerance);
    for (std::uint64_t slice = 0; slice < 3 && left == 0.0; ++slice) {
      for (int channel = 0; channel < 2; ++channel) {
        EXPECT_EQ(Bit(dsd, channel, slice * bits / 3), 1) << slice;
        EXPECT_EQ(Bit(dsd, channel, slice * bits / 3 + 1), 0) << slice;
      }
    }
  }
}

void Fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2.0 * M_PI / static_cast<double>(len);
    for (std::size_t k = 0; k < len / 2; ++k) {
      const std::complex<double> w = std::polar(1.0, angle * static_cast<double>(k));
      for (std::size_t i = 0; i < n; i += len) {
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// Signal to noise and distortion between 20 Hz and 20 kHz of `count` bits of a channel read as
// ±1, under a four-term Blackman–Harris window; the tone occupies bins tone ± 5.
double InBandSinad(const DsdBuffer& dsd, int channel, std::uint64_t first, std::size_t count,
                   std::size_t toneBin) {
  std::vector<std::complex<double>> x(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double t = 2.0 * M_PI * static_cast<double>(i) / static_cast<double>(count);
    const double window =
        0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
    x[i] = window * (Bit(dsd, channel, first + i) != 0 ? 1.0 : -1.0);
  }
  Fft(x);
  const double binHz = static_cast<double>(dsd.dsdRate) / static_cast<double>(count);
  double signal = 0, noise = 0;
  for (std::size_t k = 1; k * binHz <= 20000.0; ++k) {
    const double power = std::norm(x[k]);
    if (k + 5 >= toneBin && k <= toneBin + 5) {
      signal += power;
    } else if (k * binHz >= 20.0) {
      noise += power;
    }
  }
  return 10.0 * std::log10(signal / noise);
}

TEST(ToOneBitTest, MinusSixDbSineHasAtLeast130DbInBandSinad) {
  ScopedWorkerCount workers(1);
  constexpr std::size_t kFftLength = 1 << 20;
  constexpr std::uint64_t kSettle = 1 << 17;  // bits skipped while the loop settles
  for (const std::uint32_t dsdRate : {2822400U, 5644800U}) {
    // A tone on an FFT bin near 1 kHz, made at 44.1 kHz as a track would be.
    const std::size_t toneBin =
        static_cast<std::size_t>(std::lround(1000.0 * kFftLength / static_cast<double>(dsdRate)));
    const double frequency = static_cast<double>(toneBin) * dsdRate / kFftLength;
    const std::uint64_t frames = (kSettle + kFftLength) * 44100 / dsdRate + 100;
    const double amplitude = std::pow(10.0, -6.0 / 20.0);
    BufferSlot slot = AudioSlot(44100, frames, Sine(frequency, 44100, amplitude),
                                Sine(frequency, 44100, -amplitude));
    ASSERT_EQ(ToOneBit(slot, dsdRate, stop_), kOk);
    const DsdBuffer& dsd = *slot.Get<DsdBuffer>();
    for (int c = 0; c < 2; ++c) {
      EXPECT_GE(InBandSinad(dsd, c, kSettle, kFftLength, toneBin), 130.0)
          << "rate " << dsdRate << " channel " << c;
    }
  }
}

// A full-scale square wave drives the loop past its stable range, where its state ran away to
// infinity and then stood at not-a-number, every later bit 0: full negative DC. The modulator
// resets a runaway state, so the output keeps following the input: about 75 % ones while the
// square is +1 (0.5 after the halving) and 25 % while it is −1, to the last half-period.
TEST(ToOneBitTest, AFullScaleSquareKeepsBeingModulated) {
  ScopedWorkerCount workers(1);
  constexpr std::uint64_t kPeriod = 400;  // frames at 352.8 kHz: 882 Hz
  constexpr std::uint64_t kFrames = 352800;
  const auto square = [](std::uint64_t n) { return n % kPeriod < kPeriod / 2 ? 1.0 : -1.0; };
  BufferSlot slot =
      AudioSlot(352800, kFrames, square, [&](std::uint64_t n) { return -square(n + kPeriod / 4); });
  ASSERT_EQ(ToOneBit(slot, 2822400, stop_), kOk);
  const DsdBuffer& dsd = *slot.Get<DsdBuffer>();
  for (int channel = 0; channel < 2; ++channel) {
    // Each half-period's middle half, over the second half of the track: 8 bits a frame.
    std::uint64_t plus = 0, minus = 0, plusBits = 0, minusBits = 0;
    for (std::uint64_t n = kFrames / 2; n + kPeriod <= kFrames; n += kPeriod / 4) {
      const double level = channel == 0 ? square(n) : -square(n + kPeriod / 4);
      const bool middle = (n / (kPeriod / 4)) % 2 == 1;
      if (!middle) continue;
      (level > 0 ? plus : minus) += Ones(dsd, channel, 8 * n, 8 * kPeriod / 4);
      (level > 0 ? plusBits : minusBits) += 8 * kPeriod / 4;
    }
    EXPECT_NEAR(static_cast<double>(plus) / plusBits, 0.75, 0.05) << channel;
    EXPECT_NEAR(static_cast<double>(minus) / minusBits, 0.25, 0.05) << channel;
  }
}

// Pins the modulator's exact output, so that a compiler, flag or kernel change that alters a
// single bit shows here. Input: 2205 frames at 44.1 kHz of exact binary fractions (a sawtooth, no
// library maths; the right channel inverted and later), three workers, DSD64 (8 bits a frame) and
// DSD128 (16); FNV-1a 64 over the real byte pairs, from the release build.
TEST(ToOneBitTest, TheSameBitsOnEveryBuild) {
  ScopedWorkerCount workers(3);
  const auto saw = [](std::uint64_t n) { return static_cast<double>(n * 37 % 256) / 256 - 0.5; };
  const std::pair<std::uint32_t, std::uint64_t> cases[] = {{2822400, 10400446360093351756ULL},
                                                           {5644800, 2220219944285356047ULL}};
  for (const auto& [dsdRate, expected] : cases) {
    BufferSlot slot = AudioSlot(44100, 2205, saw, [&](std::uint64_t n) { return -saw(n + 100); });
    ASSERT_EQ(ToOneBit(slot, dsdRate, stop_), kOk);
    const DsdBuffer& dsd = *slot.Get<DsdBuffer>();
    std::uint64_t hash = 14695981039346656037ULL;
    for (std::uint64_t i = 0; i < 2 * dsd.length; ++i) {
      hash = (hash ^ dsd.Data()[i]) * 1099511628211ULL;
    }
    EXPECT_EQ(hash, expected) << dsdRate;
  }
}

// From below the PCM rate the interpolation feeds the modulators run by run, with the bits of the
// whole track brought to that rate first (Resample, then ToOneBit at the rate): every plan, a peak
// above full scale, within it, low enough that the interpolation cannot pass full scale, and
// within it where the interpolation passes it (steps of ±0.9 in pairs rise to 1.35 between
// them); runs cut across slices, tracks of a few frames, 1 and 3 workers.
TEST(ToOneBitTest, ModulatingFromBelowGivesTheBitsOfTheWholeTrackAtTheRate) {
  // Rate, DSD rate, frames, amplitude, whether the right channel steps instead of a saw.
  const std::tuple<std::uint32_t, std::uint32_t, std::uint64_t, double, bool> cases[] = {
      {44100, 2822400, 22050, 1.4, false},  // 176,400 PCM frames: three runs
      {48000, 5644800, 20000, 0.7, false}, {96000, 11289600, 9000, 1.1, false},
      {44100, 22579200, 3000, 0.9, false}, {44100, 2822400, 1, 0.5, false},
      {44100, 5644800, 3, 2.0, false},     {44100, 5644800, 20000, 0.6, false},
      {44100, 2822400, 20000, 0.9, true},
  };
  for (const unsigned workers : {1U, 3U}) {
    ScopedWorkerCount count(workers);
    for (const auto& [rate, dsdRate, frames, amplitude, steps] : cases) {
      const auto left = [rate = rate, amplitude = amplitude](std::uint64_t n) {
        return amplitude * std::sin(6000.0 * static_cast<double>(n) / rate);
      };
      const auto saw = [amplitude = amplitude](std::uint64_t n) {
        return amplitude * static_cast<double>(n * 37 % 256) / 256 - 0.5;
      };
      const std::function<double(std::uint64_t)> right =
          steps ? StepsInPairs(amplitude) : std::function<double(std::uint64_t)>(saw);
      BufferSlot whole = AudioSlot(rate, frames, left, right);
      ASSERT_EQ(Resample(whole, OneBitPlanFor(dsdRate)->pcmRate, stop_), kOk);
      ASSERT_EQ(ToOneBit(whole, dsdRate, stop_), kOk);
      BufferSlot runs = AudioSlot(rate, frames, left, right);
      ASSERT_EQ(ToOneBit(runs, dsdRate, stop_), kOk);
      const DsdBuffer& a = *whole.Get<DsdBuffer>();
      const DsdBuffer& b = *runs.Get<DsdBuffer>();
      ASSERT_EQ(a.length, b.length);
      EXPECT_EQ(std::memcmp(a.Data(), b.Data(), 2 * a.length), 0)
          << rate << " -> " << dsdRate << ", " << frames << " frames, " << workers << " workers";
    }
  }
}

}  // namespace
}  // namespace lumaro::dsp
