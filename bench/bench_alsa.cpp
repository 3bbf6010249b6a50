// What playing through ALSA costs: the CPU of the feeding loop per second of output, through
// the endpoint family at 768 kHz 32-bit and through the driver family at DSD512 (as DSD_U32_BE
// frames), against the project's paced test device running 20 times faster than real time (its
// own pacing thread is counted too, so the figures are an upper bound). And how late the device
// got its first period after Start, beyond one period of its own.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "app/player_steps.h"
#include "bench/bench_support.h"
#include "engine/step_machine.h"
#include "platform/alsa/alsa_drivers.h"
#include "platform/alsa/alsa_endpoints.h"
#include "platform/text.h"
#include "tests/support/alsa_test_config.h"

namespace {

using namespace lumaro;

constexpr unsigned kSpeed = 20;
constexpr std::uint64_t kSeconds = 60;
constexpr std::uint32_t kPcmRate = 768000;
constexpr std::uint32_t kDsdRate = 22579200;
constexpr std::uint32_t kDsdFrameRate = kDsdRate / 32;
constexpr double kNanosecondsPerMillisecond = 1e6;

// Argument 0: "W: Bench DAC" at 768000 Hz 32/32; 1: "A: Bench DAC" at D512.
void BM_AlsaFeeding(benchmark::State& state) {
  const bool dsd = state.range(0) == 1;
  state.SetLabel(dsd ? "driver_dsd512" : "endpoint_pcm_768k_32");
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("lumaro-bench-alsa-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::u16string record = platform::Utf8ToUtf16((dir / "dac.raw").string());
  lumaro::testing::AlsaTestConfig config(platform::Utf8ToUtf16(dir.string()),
                                         {{.name = "dac",
                                           .description = "Bench DAC",
                                           .formats = {"S32_LE", "DSD_U32_BE"},
                                           .rates = {kPcmRate, kDsdFrameRate},
                                           .speed = kSpeed,
                                           .record = record}});
  platform::alsa::AlsaEndpointSystem endpoints;
  platform::alsa::AlsaDriverRegistry drivers;
  // The prepared output is made (and its pages touched) ahead of the timing; the step that would
  // prepare it only hands it over.
  dsp::BufferSlot prepared;
  context::StepTable steps = app::PlayerSteps();
  steps.raisePriority = [&prepared, dsd](context::PlayRequest& r) -> Result {
    r.Buffer = std::move(prepared);
    return engine::StepMachine(
        r, dsd ? context::Step::kCreatePlaybackEvent : context::Step::kInitializeEndpoint);
  };
  bench::Clocks clocks;
  double lateMs = 0;
  for (auto _ : state) {
    std::filesystem::remove(dir / "dac.raw");
    std::filesystem::remove(dir / "dac.raw.log");
    bench::PrepareOutput(prepared, dsd, dsd ? kDsdRate : kPcmRate, kSeconds);
    context::AppContext a;
    a.PlayOnce = 1;
    platform::Services services;
    services.endpoints = &endpoints;
    services.drivers = &drivers;
    a.Services = &services;
    context::PlayRequest r;
    r.App = &a;
    r.Device = dsd ? u"A: Bench DAC" : u"W: Bench DAC";
    r.Rate = dsd ? u"D512" : u"768000";
    r.Steps = &steps;
    dsp::AudioBufferPtr decoded;
    if (dsp::NewAudioBuffer(decoded, kPcmRate, 1, 48) != kOk) std::abort();
    r.Buffer.Put(std::move(decoded));
    r.DecodedKind = context::kKindInteger, r.DecodedBits = 32, r.DecodedRate = kPcmRate;
    clocks.Time(state, [&] {
      if (engine::StepMachine(r, 9) != kOk) state.SkipWithError("feeding failed");
    });
    const lumaro::testing::AlsaTestLog log = lumaro::testing::ReadAlsaTestLog(record);
    for (const lumaro::testing::AlsaTestSession& s : log.sessions) {
      if (s.startNs.empty() || s.firstNs.empty()) continue;
      const double periodMs = 1000.0 * static_cast<double>(s.period) / s.rate / kSpeed;
      lateMs +=
          static_cast<double>(s.firstNs[0] - s.startNs[0]) / kNanosecondsPerMillisecond - periodMs;
    }
  }
  std::filesystem::remove_all(dir);
  const double audioSeconds = static_cast<double>(state.iterations()) * (kSeconds + 3);
  state.counters["core_percent"] = 100.0 * clocks.cpu / audioSeconds;
  state.counters["first_period_late_ms"] = lateMs / static_cast<double>(state.iterations());
}
BENCHMARK(BM_AlsaFeeding)
    ->DenseRange(0, 1)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
