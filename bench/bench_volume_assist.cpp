// The volume-assist stages over a five-minute stereo track at 44.1 kHz, one worker unless an
// argument says otherwise. Compression runs at the shortest and the longest cell side by side:
// its running window sums make the cost per frame independent of the cell size.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "bench/bench_support.h"
#include "dsp/compress.h"
#include "dsp/half_wave_limiter.h"
#include "dsp/loudness_normalize.h"
#include "dsp/peak_normalize.h"
#include "dsp/worker_count.h"

namespace {

using namespace lumaro;

constexpr std::uint32_t kRate = 44100;
constexpr std::uint64_t kFrames = 5ULL * 60 * kRate;

// Music-like material: a few partials under a slow swell, with some noise.
dsp::BufferSlot MakeTrack() {
  dsp::AudioBufferPtr buffer;
  if (dsp::NewAudioBuffer(buffer, kRate, kFrames, 48) != kOk) std::abort();
  std::mt19937 random(1);
  std::uniform_real_distribution<double> noise(-0.02, 0.02);
  for (std::uint64_t i = 0; i < kFrames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double swell = 0.2 + 0.6 * std::fabs(std::sin(2.0 * M_PI * 0.05 * t));
    const double v =
        swell * (0.6 * std::sin(2.0 * M_PI * 220.0 * t) + 0.3 * std::sin(2.0 * M_PI * 1330.0 * t));
    buffer->Frame(static_cast<std::int64_t>(i))[0] = v + noise(random);
    buffer->Frame(static_cast<std::int64_t>(i))[1] = 0.9 * v + noise(random);
  }
  dsp::BufferSlot slot;
  slot.Put(std::move(buffer));
  return slot;
}

// Runs `stage` on a fresh copy of the track per iteration and reports real time per second.
template <class Stage>
void RunStage(benchmark::State& state, unsigned workers, Stage stage) {
  dsp::SetWorkerCountOverride(workers);
  static dsp::BufferSlot master = MakeTrack();
  const dsp::AudioBuffer& source = *master.Get<dsp::AudioBuffer>();
  platform::StopWord stop;
  dsp::BufferSlot slot;  // the previous result is freed while the clock is paused
  for (auto _ : state) {
    state.PauseTiming();
    dsp::AudioBufferPtr copy;
    if (dsp::NewAudioBuffer(copy, kRate, kFrames, 48) != kOk) std::abort();
    std::copy(source.Frame(0), source.Frame(kFrames), copy->Frame(0));
    slot.Put(std::move(copy));
    state.ResumeTiming();
    if (stage(slot, stop) != kOk) state.SkipWithError("stage failed");
    benchmark::DoNotOptimize(slot.Get<dsp::AudioBuffer>());
  }
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kFrames / kRate, benchmark::Counter::kIsRate);
  dsp::SetWorkerCountOverride(0);
}

// Args: cell size in ms, loudness type (0 ARV, 1 RMS), workers.
void BM_Compress(benchmark::State& state) {
  dsp::CompressParameters p;
  p.cellSize = static_cast<std::uint32_t>(state.range(0));
  p.loudnessType = static_cast<std::uint32_t>(state.range(1));
  RunStage(state, static_cast<unsigned>(state.range(2)),
           [&](dsp::BufferSlot& slot, const platform::StopWord& stop) {
             return dsp::Compress(slot, p, stop);
           });
}
BENCHMARK(BM_Compress)
    ->ArgNames({"cell", "rms", "workers"})
    ->Args({100, 1, 1})
    ->Args({4000, 1, 1})
    ->Args({100, 0, 1})
    ->Args({4000, 0, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Args: loudness type, workers. Normalization to level 800 followed by the limiter, as played.
void BM_LoudnessAndLimiter(benchmark::State& state) {
  const auto type = static_cast<std::uint32_t>(state.range(0));
  RunStage(state, static_cast<unsigned>(state.range(1)),
           [&](dsp::BufferSlot& slot, const platform::StopWord& stop) {
             const Result r = dsp::LoudnessNormalize(slot, 800, type, stop);
             return r != kOk ? r : dsp::HalfWaveLimiter(slot, stop);
           });
}
BENCHMARK(BM_LoudnessAndLimiter)
    ->ArgNames({"rms", "workers"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Args: workers.
void BM_PeakNormalize(benchmark::State& state) {
  RunStage(state, static_cast<unsigned>(state.range(0)),
           [](dsp::BufferSlot& slot, const platform::StopWord& stop) {
             return dsp::PeakNormalize(slot, 100, stop);
           });
}
BENCHMARK(BM_PeakNormalize)
    ->ArgNames({"workers"})
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// For scale: making (and freeing) a fresh AudioBuffer the size of compression's padded copy at
// cell 100, first touch of every page included; Compress pays this once per call.
void BM_FreshPaddedCopy(benchmark::State& state) {
  for (auto _ : state) {
    dsp::AudioBufferPtr block;
    if (dsp::NewAudioBuffer(block, kRate, kFrames, kRate / 10) != kOk) std::abort();
    benchmark::DoNotOptimize(block.get());
  }
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kFrames / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FreshPaddedCopy)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return lumaro::bench::Main(argc, argv); }
