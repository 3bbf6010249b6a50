// Conversion of a five-minute 96 kHz stereo track to device bytes, one worker: the peak pass,
// the output record and the rounding pass.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

#include "bench/bench_support.h"
#include "dsp/float_to_output.h"
#include "dsp/worker_count.h"

namespace {

using namespace lumaro;

constexpr std::uint32_t kRate = 96000;
constexpr std::uint64_t kSeconds = 5 * 60;

dsp::BufferSlot MakeTrack() {
  dsp::AudioBufferPtr buffer;
  const std::uint64_t frames = kSeconds * kRate;
  if (dsp::NewAudioBuffer(buffer, kRate, frames, 48) != kOk) std::abort();
  for (std::uint64_t i = 0; i < frames; ++i) {
    const double v = 0.9 * std::sin(2.0 * M_PI * 997.0 * static_cast<double>(i) / kRate);
    buffer->Frame(static_cast<std::int64_t>(i))[0] = v;
    buffer->Frame(static_cast<std::int64_t>(i))[1] = -v;
  }
  dsp::BufferSlot slot;
  slot.Put(std::move(buffer));
  return slot;
}

// Args: valid bits, container bits, float flag.
void BM_FloatToOutput(benchmark::State& state) {
  dsp::SetWorkerCountOverride(1);
  const auto valid = static_cast<unsigned>(state.range(0));
  const auto container = static_cast<unsigned>(state.range(1));
  const bool asFloat = state.range(2) != 0;
  platform::StopWord stop;
  lumaro::bench::Clocks clocks;
  for (auto _ : state) {
    dsp::BufferSlot slot = MakeTrack();
    clocks.Time(state, [&] {
      if (dsp::FloatToOutput(slot, valid, container, asFloat, stop) != kOk)
        state.SkipWithError("FloatToOutput failed");
    });
  }
  clocks.Report(state, kSeconds);
  dsp::SetWorkerCountOverride(0);
}
BENCHMARK(BM_FloatToOutput)
    ->Args({16, 16, 0})
    ->Args({24, 24, 0})
    ->Args({24, 32, 0})
    ->Args({32, 32, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return lumaro::bench::Main(argc, argv); }
