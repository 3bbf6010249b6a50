#pragma once

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "dsp/buffer_slot.h"
#include "dsp/dsd_buffer.h"
#include "dsp/pcm_buffer.h"

namespace lumaro::bench {

// Puts `seconds` of prepared device output into `slot`, its pages touched, so a feeding benchmark
// times the feeding alone: 1-bit data at `rate` bits per second per channel (`dsd`), or 32-bit
// stereo PCM at `rate` frames per second. Ends the benchmark when the memory is not there.
inline void PrepareOutput(dsp::BufferSlot& slot, bool dsd, std::uint32_t rate,
                          std::uint64_t seconds) {
  if (dsd) {
    dsp::DsdBufferPtr out;
    if (dsp::NewDsdBuffer(out, rate, seconds * rate / 8) != kOk) std::abort();
    slot.Put(std::move(out));
  } else {
    dsp::PcmBufferPtr out;
    if (dsp::NewPcmBuffer(out, dsp::kPcmInteger, 2, 32, rate, seconds * rate) != kOk) std::abort();
    slot.Put(std::move(out));
  }
}

// CPU time of the whole process, every thread, user and system (the page faults of fresh
// memory are system time). The stages' workers run on their own threads, and this machine is
// shared, so the CPU time they take is the steady figure; the wall clock is printed beside it.
inline double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Times one iteration of `work`: the process's CPU time becomes the iteration's time (the
// benchmark uses manual time) and both clocks are added to the totals.
struct Clocks {
  double cpu = 0;
  double wall = 0;

  template <class Work>
  void Time(benchmark::State& state, Work&& work) {
    const double cpuStart = ProcessCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    work();
    const double spent = ProcessCpuSeconds() - cpuStart;
    state.SetIterationTime(spent);
    cpu += spent;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  }

  // Seconds of audio handled per CPU second and per wall-clock second.
  void Report(benchmark::State& state, double audioSecondsPerIteration) const {
    const double audio = audioSecondsPerIteration * static_cast<double>(state.iterations());
    state.counters["x_realtime"] = audio / cpu;
    state.counters["x_realtime_wall"] = audio / wall;
  }
};

// Runs the benchmarks. With --warm-heap freed blocks stay in the process instead of going back
// to the system, so every iteration after the first writes into pages already mapped: it
// separates a kernel's own speed from the first-touch page faults of a new track-sized block.
inline int Main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--warm-heap") {
      mallopt(M_MMAP_MAX, 0);
      mallopt(M_TRIM_THRESHOLD, INT_MAX);
      argv[i] = argv[0];
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace lumaro::bench
