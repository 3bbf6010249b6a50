// What every stage promises, whatever it computes: the same result for any number of workers,
// and a failure (a refused argument or record, a stop request) leaves the slot empty; the stages
// that scale in place keep the record where it was instead.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "dsp/clip_guard.h"
#include "dsp/compress.h"
#include "dsp/decimate.h"
#include "dsp/dsd_to_float.h"
#include "dsp/float_to_output.h"
#include "dsp/half_wave_limiter.h"
#include "dsp/interpolate.h"
#include "dsp/loudness_normalize.h"
#include "dsp/pack_dop.h"
#include "dsp/pcm_to_float.h"
#include "dsp/peak_normalize.h"
#include "dsp/resample.h"
#include "dsp/to_one_bit.h"
#include "tests/support/audio_slot.h"
#include "tests/support/fake_memory_status.h"

namespace lumaro::dsp {
namespace {

using namespace lumaro::testing;  // NOLINT: the record builders
using StageRun = std::function<Result(BufferSlot&, const platform::StopWord&)>;

// Noise that swells over 8 kHz-long passages with its peak in the very last sample, so that a
// slice whose peak or level is lost changes the result.
std::function<BufferSlot()> Noise(std::uint64_t frames, double peak, std::uint32_t rate = 44100) {
  return [=] {
    std::vector<double> samples = SwellingNoise(frames, 0.9 * peak, 7);
    samples.back() = -peak;
    return AudioSlot(samples, rate);
  };
}

CompressParameters Compression(std::uint32_t type) {
  return {.downward = 60,
          .upward = 100,
          .maxAmplification = 2000,
          .cellSize = 150,
          .timeLagBalance = 37,
          .loudnessType = type};
}

// A stage run with its arguments after the slot bound: Call(Resample, 44100).
template <class F, class... A>
StageRun Call(F stage, A... args) {
  return [=](BufferSlot& s, const platform::StopWord& stop) { return stage(s, args..., stop); };
}
// Decimate's thread starter is a default argument, which a pointer to it does not carry.
Result Decimating(BufferSlot& s, std::uint32_t factor, const platform::StopWord& stop) {
  return Decimate(s, factor, stop);
}

struct Stage {
  const char* name;
  std::function<BufferSlot()> input;  // a record the stage takes
  StageRun run;
  bool keeps = false;  // scales in place: a failure leaves the record in the slot
  bool stops = true;   // polls the stop request
  bool sameForAnyWorkers = true;
};

const std::vector<Stage>& Stages() {
  static const std::vector<Stage> stages = {
      {"pcm-to-float", [] { return PcmSlot(kPcmInteger, 2, 24, RampBytes(1001 * 2 * 3, 37)); },
       PcmToFloat},
      {"dsd-to-float", [] { return DsdSlot(11289600, 4099, ByteRamp(262, 7), ByteRamp(13)); },
       DsdToFloat},
      {"clip-guard", Noise(10007, 3.0), ClipGuard, true},
      {"half-wave-limiter", Noise(50000, 1.6), HalfWaveLimiter, true, false},
      {"peak", Noise(50001, 0.9), Call(PeakNormalize, 90)},
      {"loudness ARV", Noise(100003, 1.7), Call(LoudnessNormalize, 300, 0)},
      {"loudness RMS", Noise(100003, 1.7), Call(LoudnessNormalize, 300, 1)},
      {"compress ARV", Noise(200003, 0.95, 8000), Call(Compress, Compression(0))},
      {"compress RMS", Noise(200003, 0.95, 8000), Call(Compress, Compression(1))},
      {"interpolate", Noise(44100, 0.5), Call(Interpolate, 48000)},
      {"resample down", Noise(96000, 0.5, 96000), Call(Resample, 44100)},
      // Long enough for its last levels to take several workers.
      {"float-to-output", Noise(40000, 1.7), Call(FloatToOutput, 24, 24, false)},
      {"pack-dop", [] { return DsdSlot(2822400, 1000, 0x69); }, Call(PackDop, 24), false, false},
      // Each slice starts its modulator afresh: the bits depend on the slices.
      {"to-one-bit", Noise(100000, 0.5, 352800), Call(ToOneBit, 2822400), false, true, false},
  };
  return stages;
}

TEST(StageContractTest, SameResultForAnyNumberOfWorkers) {
  for (const Stage& stage : Stages()) {
    if (!stage.sameForAnyWorkers) continue;
    SCOPED_TRACE(stage.name);
    std::pair<std::vector<double>, std::vector<unsigned char>> first;  // samples or bytes
    for (const unsigned workers : {1, 3, 63}) {
      ScopedWorkerCount count(workers);
      BufferSlot slot = stage.input();
      ASSERT_EQ(stage.run(slot, platform::StopWord{}), kOk);
      const auto result = std::pair(RealSamples(slot), RealBytes(slot));
      ASSERT_FALSE(result.first.empty() && result.second.empty());
      if (workers == 1) first = result;
      EXPECT_TRUE(result == first) << workers << " workers";
    }
  }
}

TEST(StageContractTest, AStopRequestOrARecordOfAnotherKindFails) {
  for (const Stage& stage : Stages()) {
    SCOPED_TRACE(stage.name);
    BufferSlot empty;
    EXPECT_NE(stage.run(empty, platform::StopWord{}), kOk);

    const bool takesAudio = stage.input().Get<AudioBuffer>() != nullptr;
    BufferSlot other = takesAudio ? PcmSlot(kPcmInteger, 2, 16, std::vector<unsigned char>(16, 1))
                                  : AudioSlot(std::vector<double>(64, 0.25));
    EXPECT_NE(stage.run(other, platform::StopWord{}), kOk);
    EXPECT_EQ(other.Empty(), !stage.keeps);

    if (!stage.stops) continue;
    BufferSlot stopped = stage.input();
    EXPECT_NE(stage.run(stopped, platform::StopWord{1}), kOk);
    EXPECT_EQ(stopped.Empty(), !stage.keeps);
  }
}

// Arguments and records each stage refuses (leaving the slot empty), beside the nearest ones it
// takes.
TEST(StageContractTest, RefusalsLeaveTheSlotEmpty) {
  const auto audio = [](std::uint32_t rate, std::uint64_t leadIn = 48,
                        std::uint64_t frames = 1000) {
    return [=] { return AudioSlot(rate, frames, Flat(0.25), leadIn); };
  };
  const auto dsd = [](std::uint32_t rate, std::uint64_t length) {
    return [=] { return DsdSlot(rate, length, 0x69); };
  };
  const auto pcm = [](std::uint16_t format, std::uint8_t bits) {
    return [=] { return PcmSlot(format, 2, bits, RampBytes(bits / 4, 0, 0x40)); };
  };
  const auto compress = [](std::uint32_t rateAfter) -> StageRun {
    return [=](BufferSlot& s, auto& stop) {
      s.Get<AudioBuffer>()->sampleRate = rateAfter;
      return Compress(s, {}, stop);
    };
  };
  struct Case {
    const char* name;
    std::function<BufferSlot()> input;
    StageRun run;
    bool refused = true;
  } const cases[] = {
      {"pcm-to-float: 64-bit integers", pcm(kPcmInteger, 64), PcmToFloat},
      {"pcm-to-float: 8-bit float", pcm(kPcmFloat, 8), PcmToFloat},
      {"pcm-to-float: 16-bit float", pcm(kPcmFloat, 16), PcmToFloat},
      {"pcm-to-float: 24-bit float", pcm(kPcmFloat, 24), PcmToFloat},
      {"pcm-to-float: no frames", [] { return PcmSlot(kPcmInteger, 2, 16, {}); }, PcmToFloat},
      {"dsd-to-float: no frame at 22579200", dsd(22579200, 3), DsdToFloat},
      {"compress: rate 7999", audio(8000, 48, 200000), compress(7999)},
      {"compress: rate 2^30", audio(8000, 48, 200000), compress(0x40000000)},
      {"compress: no room for the padded copy", audio(8000, 48, 200000),
       [](BufferSlot& s, auto& stop) {
         FakeMemoryStatus noRoom(0);
         return Compress(s, {}, stop);
       }},
      {"loudness: level 0", audio(44100), Call(LoudnessNormalize, 0, 0)},
      {"loudness: level 801", audio(44100), Call(LoudnessNormalize, 801, 0)},
      {"loudness: level 1", audio(44100), Call(LoudnessNormalize, 1, 0), false},
      {"loudness: level 800", audio(44100), Call(LoudnessNormalize, 800, 0), false},
      {"resample: above 1411200", audio(44100), Call(Resample, 1411201)},
      {"resample: below 8000", audio(44100), Call(Resample, 7999)},
      {"decimate: 32000 by 8", audio(32000), Call(Decimating, 8)},
      {"decimate: 64000 by 8", audio(64000), Call(Decimating, 8), false},
      {"decimate: factor 3", audio(96000), Call(Decimating, 3)},
      {"decimate: lead-in 40 by 8", audio(96000, 40), Call(Decimating, 8)},
      {"decimate: lead-in 40 by 4", audio(96000, 40), Call(Decimating, 4), false},
      {"decimate: odd rate by 2", audio(44101), Call(Decimating, 2)},
      {"interpolate: lead-in 1", audio(44100, 1), Call(Interpolate, 48000)},
      {"interpolate: above 6144000", audio(44100), Call(Interpolate, 6144001)},
      {"to-one-bit: 2822401", audio(44100), Call(ToOneBit, 2822401)},
      {"to-one-bit: lead-in 1", audio(352800, 1), Call(ToOneBit, 2822400)},
      {"float-to-output: 24 in 16", audio(96000), Call(FloatToOutput, 24, 16, false)},
      {"float-to-output: 8 in 16", audio(96000), Call(FloatToOutput, 8, 16, false)},
      {"float-to-output: 16 in 20", audio(96000), Call(FloatToOutput, 16, 20, false)},
      {"float-to-output: no room for the output record, made in place", audio(8000, 48, 200000),
       [](BufferSlot& s, auto& stop) {
         FakeMemoryStatus noRoom(0);
         return FloatToOutput(s, 24, 32, false, stop);
       }},
      {"pack-dop: 22579200", dsd(22579200, 100), Call(PackDop, 24)},
      {"pack-dop: fewer than two frames", dsd(2822400, 3), Call(PackDop, 24)},
      {"pack-dop: 16-bit container", dsd(2822400, 100), Call(PackDop, 16)},
      {"pack-dop: 20-bit container", dsd(11289600, 100), Call(PackDop, 20)},
  };
  for (const Case& c : cases) {
    BufferSlot slot = c.input();
    ASSERT_FALSE(slot.Empty()) << c.name;
    EXPECT_EQ(c.run(slot, platform::StopWord{}) != kOk, c.refused) << c.name;
    EXPECT_EQ(slot.Empty(), c.refused) << c.name;
  }
}

}  // namespace
}  // namespace lumaro::dsp
