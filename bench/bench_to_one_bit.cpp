// 1-bit modulation of a stereo 44.1 kHz track at each DSD rate, one worker: the rate change to
// the plan's PCM rate, the clip guard and the modulator with its fused sub-sample interpolation.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

#include "bench/bench_support.h"
#include "dsp/to_one_bit.h"
#include "dsp/worker_count.h"

namespace {

using namespace lumaro;

constexpr std::uint32_t kRate = 44100;
// Thirty seconds keep the largest intermediate (DSD512's PCM at 1.4 MHz) under 1 GB; the
// figure is a rate and does not depend on the length.
constexpr std::uint64_t kSeconds = 30;

dsp::BufferSlot MakeTrack() {
  dsp::AudioBufferPtr buffer;
  const std::uint64_t frames = kSeconds * kRate;
  if (dsp::NewAudioBuffer(buffer, kRate, frames, 48) != kOk) std::abort();
  for (std::uint64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    buffer->Frame(static_cast<std::int64_t>(i))[0] = 0.5 * std::sin(2.0 * M_PI * 997.0 * t);
    buffer->Frame(static_cast<std::int64_t>(i))[1] = 0.3 * std::sin(2.0 * M_PI * 3001.0 * t);
  }
  dsp::BufferSlot slot;
  slot.Put(std::move(buffer));
  return slot;
}

// Arg: DSD rate.
void BM_ToOneBit(benchmark::State& state) {
  dsp::SetWorkerCountOverride(1);
  const auto dsdRate = static_cast<std::uint32_t>(state.range(0));
  platform::StopWord stop;
  lumaro::bench::Clocks clocks;
  for (auto _ : state) {
    dsp::BufferSlot slot = MakeTrack();
    clocks.Time(state, [&] {
      if (dsp::ToOneBit(slot, dsdRate, stop) != kOk) state.SkipWithError("ToOneBit failed");
    });
  }
  clocks.Report(state, kSeconds);
  dsp::SetWorkerCountOverride(0);
}
BENCHMARK(BM_ToOneBit)
    ->Arg(2822400)
    ->Arg(5644800)
    ->Arg(11289600)
    ->Arg(22579200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return lumaro::bench::Main(argc, argv); }
