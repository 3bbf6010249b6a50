// The resampler on five-minute stereo tracks, one worker, in-process: the time a listener waits
// for the rate change once a track is decoded (the new buffer's allocation included).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

#include "bench/bench_support.h"
#include "dsp/decimate.h"
#include "dsp/mirror_lead_in.h"
#include "dsp/resample.h"
#include "dsp/worker_count.h"

namespace {

using namespace lumaro;

constexpr std::uint64_t kSeconds = 5 * 60;

dsp::BufferSlot MakeTrack(std::uint32_t rate) {
  dsp::AudioBufferPtr buffer;
  const std::uint64_t frames = kSeconds * rate;
  if (dsp::NewAudioBuffer(buffer, rate, frames, 48) != kOk) std::abort();
  for (std::uint64_t i = 0; i < frames; ++i) {
    const double v = 0.5 * std::sin(2.0 * M_PI * 997.0 * static_cast<double>(i) / rate);
    buffer->Frame(static_cast<std::int64_t>(i))[0] = v;
    buffer->Frame(static_cast<std::int64_t>(i))[1] = -v;
  }
  dsp::BufferSlot slot;
  slot.Put(std::move(buffer));
  return slot;
}

// Args: source rate, target rate.
void BM_Resample(benchmark::State& state) {
  dsp::SetWorkerCountOverride(1);
  const auto source = static_cast<std::uint32_t>(state.range(0));
  const auto target = static_cast<std::uint32_t>(state.range(1));
  platform::StopWord stop;
  lumaro::bench::Clocks clocks;
  for (auto _ : state) {
    dsp::BufferSlot slot = MakeTrack(source);
    clocks.Time(state, [&] {
      if (dsp::Resample(slot, target, stop) != kOk) state.SkipWithError("Resample failed");
    });
  }
  clocks.Report(state, kSeconds);
  dsp::SetWorkerCountOverride(0);
}
BENCHMARK(BM_Resample)
    ->Args({44100, 48000})
    ->Args({44100, 192000})
    ->Args({96000, 44100})
    ->Args({48000, 44100})
    ->Args({192000, 48000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The decimation filter alone by factor F, on one thread, into a block it has written before: the
// kernel without the first touch of fresh memory.
void BM_DecimationKernel(benchmark::State& state) {
  const auto factor = static_cast<std::uint32_t>(state.range(0));
  constexpr std::uint32_t kRate = 96000;
  dsp::BufferSlot slot = MakeTrack(kRate);
  dsp::AudioBuffer& in = *slot.Get<dsp::AudioBuffer>();
  dsp::MirrorLeadIn(in);
  dsp::AudioBufferPtr out;
  if (dsp::NewAudioBuffer(out, kRate / factor, in.frameCount / factor, 48) != kOk) std::abort();
  platform::StopWord stop;
  lumaro::bench::Clocks clocks;
  for (auto _ : state) {
    clocks.Time(state,
                [&] { dsp::DecimateRange(in, factor, 0, out->frameCount, out->Frame(0), stop); });
  }
  clocks.Report(state, kSeconds);
}
BENCHMARK(BM_DecimationKernel)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return lumaro::bench::Main(argc, argv); }
