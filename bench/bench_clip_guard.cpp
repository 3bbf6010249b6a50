// The clip guard over a five-minute stereo track at 44.1 kHz, the model two-pass stage: its
// speed is that of reading (and, above full scale, writing) the buffer once per pass.
#include <benchmark/benchmark.h>

#include <cmath>

#include "bench/bench_support.h"
#include "dsp/clip_guard.h"
#include "dsp/worker_count.h"

namespace {

using namespace lumaro;

constexpr std::uint32_t kRate = 44100;
constexpr std::uint64_t kFrames = 5ULL * 60 * kRate;

dsp::BufferSlot MakeTrack(double peak) {
  dsp::AudioBufferPtr buffer;
  if (dsp::NewAudioBuffer(buffer, kRate, kFrames, 48) != kOk) std::abort();
  for (std::uint64_t i = 0; i < kFrames; ++i) {
    const double v = peak * std::sin(2.0 * M_PI * 997.0 * static_cast<double>(i) / kRate);
    buffer->Frame(static_cast<std::int64_t>(i))[0] = v;
    buffer->Frame(static_cast<std::int64_t>(i))[1] = -v;
  }
  dsp::BufferSlot slot;
  slot.Put(std::move(buffer));
  return slot;
}

// Arg 0: workers. Arg 1: 0 = peak below full scale (measure only), 1 = above (measure + scale).
void BM_ClipGuard(benchmark::State& state) {
  dsp::SetWorkerCountOverride(static_cast<unsigned>(state.range(0)));
  const bool loud = state.range(1) != 0;
  platform::StopWord stop;
  for (auto _ : state) {
    state.PauseTiming();
    dsp::BufferSlot slot = MakeTrack(loud ? 2.0 : 0.5);
    state.ResumeTiming();
    if (dsp::ClipGuard(slot, stop) != kOk) state.SkipWithError("ClipGuard failed");
    benchmark::DoNotOptimize(slot.Get<dsp::AudioBuffer>());
  }
  // Real time played per second of work.
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kFrames / kRate, benchmark::Counter::kIsRate);
  dsp::SetWorkerCountOverride(0);
}
BENCHMARK(BM_ClipGuard)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return lumaro::bench::Main(argc, argv); }
