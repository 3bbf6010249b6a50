// The listener's wait and the feeding's cost. Part one: the time from the start of the device
// steps (step 9) to the device's Start for a whole 5-minute track, with the time each
// preparation stage took (read off the status line as it changes). Part two: the CPU the
// feeding loop costs per second of 768 kHz 32-bit output, against the File output writing to
// /dev/null as fast as it is fed, and the same for the driver File output at 768 kHz 32-bit and
// at DSD512.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include "app/player_steps.h"
#include "bench/bench_support.h"
#include "engine/step_machine.h"
#include "platform/file_output/file_driver.h"
#include "platform/file_output/file_output.h"
#include "platform/headless/headless_dialog.h"
#include "platform/sim/sim_endpoints.h"
#include "platform/text.h"

namespace {

using namespace lumaro;
using platform::endpoint::ShareMode;
using platform::endpoint::WaveFormat;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kTrackSeconds = 300;
constexpr Result kStopAtStart = 0xBE00;

// Seconds spent under each status text, from the moment it was written until the next one.
class StatusTimer {
 public:
  explicit StatusTimer(platform::ui::HeadlessDialog& window) : window_(window) {
    window.SetObserver([this](platform::ui::ControlId id) {
      if (id != 2003) return;
      const auto now = Clock::now();
      std::lock_guard<std::mutex> lock(mutex_);
      if (!current_.empty())
        spent_[current_] += std::chrono::duration<double>(now - since_).count();
      current_ = platform::Utf16ToUtf8(window_.Text(2003));
      since_ = now;
    });
  }
  ~StatusTimer() { window_.SetObserver(nullptr); }
  std::map<std::string, double> Spent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return spent_;
  }

 private:
  platform::ui::HeadlessDialog& window_;
  std::mutex mutex_;
  std::string current_;
  Clock::time_point since_;
  std::map<std::string, double> spent_;
};

struct Scenario {
  const char* name;
  bool dsd;
  std::u16string rate;
  std::uint32_t onlyRate;
  std::uint16_t onlyValid, onlyContainer;
};

const Scenario kScenarios[] = {
    {"wav16_44k_auto_to_192k_32", false, u"Auto", 192000, 32, 32},
    {"wav16_44k_to_D128_dop", false, u"D128", 352800, 24, 32},
    {"dsd64_auto_to_352k8_24in32", true, u"Auto", 352800, 24, 32},
    {"wav16_44k_auto_to_44k1_24in32", false, u"Auto", 44100, 24, 32},
};

// The decoded track as the decoders leave it: a 16-bit 44.1 kHz sine as float, or DSD64 bytes.
void FillDecoded(context::PlayRequest& r, bool dsd) {
  if (dsd) {
    dsp::DsdBufferPtr b;
    if (dsp::NewDsdBuffer(b, 2822400, kTrackSeconds * 2822400 / 8) != kOk) std::abort();
    for (std::uint64_t i = 0; i < 2 * b->length; ++i)
      b->Data()[i] = static_cast<unsigned char>(0x69 ^ (i * 37));
    r.Buffer.Put(std::move(b));
    r.IsDsd = 1, r.DecodedKind = context::kKindInteger, r.DecodedBits = 1, r.DecodedRate = 2822400;
    return;
  }
  dsp::AudioBufferPtr b;
  if (dsp::NewAudioBuffer(b, 44100, kTrackSeconds * 44100, 48) != kOk) std::abort();
  for (std::uint64_t i = 0; i < b->frameCount; ++i) {
    const double v = std::round(16000 * std::sin(0.0627 * static_cast<double>(i))) / 32768.0;
    b->Frame(static_cast<std::int64_t>(i))[0] = v;
    b->Frame(static_cast<std::int64_t>(i))[1] = -v;
  }
  r.Buffer.Put(std::move(b));
  r.IsDsd = 0, r.DecodedKind = context::kKindInteger, r.DecodedBits = 16, r.DecodedRate = 44100;
}

void BM_StepNineToStart(benchmark::State& state) {
  const Scenario& s = kScenarios[state.range(0)];
  state.SetLabel(s.name);
  context::StepTable steps = app::PlayerSteps();
  steps.Handler(context::DeviceFamily::kEndpoint, context::Step::kStartEndpoint) =
      [](context::PlayRequest&) { return kStopAtStart; };  // the device's Start
  std::map<std::string, double> total;
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    context::AppContext a;
    platform::Services services;
    platform::sim::SimEndpointScript e;
    e.name = u"DAC";
    e.accepts = [&s](ShareMode mode, const WaveFormat& f) {
      return mode == ShareMode::kExclusive && f.samplesPerSec == s.onlyRate &&
             f.validBitsPerSample == s.onlyValid && f.bitsPerSample == s.onlyContainer;
    };
    platform::sim::SimEndpointSystem endpoints({.endpoints = {e}});
    services.endpoints = &endpoints;
    a.Services = &services;
    platform::ui::HeadlessDialog window;
    a.MainWindow = &window;
    context::PlayRequest r;
    r.App = &a;
    r.Device = u"W: DAC";
    r.Rate = s.rate;
    r.Steps = &steps;
    FillDecoded(r, s.dsd);
    StatusTimer timer(window);
    state.ResumeTiming();
    const auto start = Clock::now();
    if (engine::StepMachine(r, 9) != kStopAtStart) state.SkipWithError("did not reach Start");
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    state.PauseTiming();
    for (const auto& [text, spent] : timer.Spent()) total[text] += spent;
    r.Buffer.Clear();
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["seconds_to_start"] = seconds / n;
  for (const auto& [text, spent] : total) {
    std::fprintf(stderr, "  %-28s %-34s %7.3f s\n", s.name, text.c_str(), spent / n);
  }
}
BENCHMARK(BM_StepNineToStart)->DenseRange(0, 3)->Iterations(2)->Unit(benchmark::kMillisecond);

// Feeding 60 s of prepared 768 kHz 32/32 output (after its 3 s lead-in) into the File output.
void BM_FeedingAt768k(benchmark::State& state) {
  constexpr std::uint32_t kRate = 768000;
  constexpr std::uint64_t kSeconds = 60;
  context::StepTable steps = app::PlayerSteps();
  steps.raisePriority = [](context::PlayRequest& r) -> Result {
    dsp::PcmBufferPtr out;
    if (dsp::NewPcmBuffer(out, dsp::kPcmInteger, 2, 32, kRate, kSeconds * kRate) != kOk) return 1;
    r.Buffer.Put(std::move(out));
    return engine::StepMachine(r, 21);
  };
  bench::Clocks clocks;
  for (auto _ : state) {
    context::AppContext a;
    a.PlayOnce = 1;
    platform::Services services;
    platform::file_output::FileOutputSystem endpoints({.path = u"/dev/null", .paced = false});
    services.endpoints = &endpoints;
    a.Services = &services;
    context::PlayRequest r;
    r.App = &a;
    r.Device = u"W: File output";
    r.Rate = u"768000";
    r.Steps = &steps;
    dsp::AudioBufferPtr decoded;
    if (dsp::NewAudioBuffer(decoded, kRate, 1, 48) != kOk) std::abort();
    r.Buffer.Put(std::move(decoded));
    r.DecodedKind = context::kKindInteger, r.DecodedBits = 32, r.DecodedRate = kRate;
    clocks.Time(state, [&] {
      if (engine::StepMachine(r, 9) != kOk) state.SkipWithError("feeding failed");
    });
  }
  // Core share at real-time pace: CPU seconds per second of output.
  state.counters["core_percent"] =
      100.0 * clocks.cpu / (static_cast<double>(state.iterations()) * (kSeconds + 3));
}
BENCHMARK(BM_FeedingAt768k)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// Feeding 60 s of prepared output (after its 3 s lead-in) into the driver File output, whose
// files lead to /dev/null: 768 kHz 32/32 PCM (argument 0) or DSD512 (argument 1).
void BM_DriverFeeding(benchmark::State& state) {
  constexpr std::uint64_t kSeconds = 60;
  constexpr std::uint32_t kPcmRate = 768000;
  constexpr std::uint32_t kDsdRate = 22579200;
  const bool dsd = state.range(0) == 1;
  state.SetLabel(dsd ? "dsd512" : "pcm_768k_32");
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("lumaro-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  for (const char* name : {"out.wav", "out.dff"}) {
    std::filesystem::remove(dir / name);
    std::filesystem::create_symlink("/dev/null", dir / name);
  }
  // The prepared output is made (and its pages touched) ahead of the timing; the step that would
  // prepare it only hands it over.
  dsp::BufferSlot prepared;
  context::StepTable steps = app::PlayerSteps();
  steps.raisePriority = [&prepared](context::PlayRequest& r) -> Result {
    r.Buffer = std::move(prepared);
    return engine::StepMachine(r, context::Step::kCreatePlaybackEvent);
  };
  bench::Clocks clocks;
  for (auto _ : state) {
    bench::PrepareOutput(prepared, dsd, dsd ? kDsdRate : kPcmRate, kSeconds);
    context::AppContext a;
    a.PlayOnce = 1;
    platform::Services services;
    platform::file_output::FileDriverRegistry drivers(
        {.path = platform::Utf8ToUtf16((dir / "out.wav").string()), .paced = false});
    services.drivers = &drivers;
    a.Services = &services;
    context::PlayRequest r;
    r.App = &a;
    r.Device = u"A: File output";
    r.Rate = dsd ? u"D512" : u"768000";
    r.Steps = &steps;
    dsp::AudioBufferPtr decoded;
    if (dsp::NewAudioBuffer(decoded, kPcmRate, 1, 48) != kOk) std::abort();
    r.Buffer.Put(std::move(decoded));
    r.DecodedKind = context::kKindInteger, r.DecodedBits = 32, r.DecodedRate = kPcmRate;
    clocks.Time(state, [&] {
      if (engine::StepMachine(r, 9) != kOk) state.SkipWithError("feeding failed");
    });
  }
  std::filesystem::remove_all(dir);
  state.counters["core_percent"] =
      100.0 * clocks.cpu / (static_cast<double>(state.iterations()) * (kSeconds + 3));
}
BENCHMARK(BM_DriverFeeding)
    ->DenseRange(0, 1)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
