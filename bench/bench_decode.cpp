// Reading and converting whole tracks: WAV read + PcmToFloat of a five-minute 96 kHz 24-bit
// stereo file from the page cache, PcmToFloat alone, DsdToFloat at the four DSD rates, and the
// platform decoder (libsndfile) on a five-minute 44.1 kHz 16-bit stereo FLAC.
// Real time is the seconds of audio handled per second of work (x_realtime).
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "decode/platform_decoder_reader.h"
#include "decode/wav_reader.h"
#include "dsp/dsd_to_float.h"
#include "dsp/pcm_to_float.h"
#include "dsp/worker_count.h"
#include "platform/text.h"

namespace {

using namespace lumaro;

constexpr std::uint32_t kPcmRate = 96000;
constexpr std::uint64_t kTrackSeconds = 300;
constexpr std::uint64_t kPcmFrames = kTrackSeconds * kPcmRate;

// Resident memory figures of this process from /proc/self/status, in bytes.
std::uint64_t StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::stoull(line.substr(length + 1)) * 1024;
  }
  return 0;
}

// Lets VmHWM measure from now on (the kernel resets the peak to the current size).
void ResetPeakResident() {
  if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

// A 24-bit stereo WAV of a slow ramp in the temporary directory, written once.
const std::u16string& PcmTrackPath() {
  static const std::u16string path = [] {
    const std::string name = "/tmp/lumaro-bench-" + std::to_string(::getpid()) + ".wav";
    std::ofstream out(name, std::ios::binary);
    const std::uint64_t dataBytes = kPcmFrames * 6;
    auto le = [&](std::uint64_t v, int n) {
      for (int i = 0; i < n; ++i) out.put(static_cast<char>(v >> (8 * i)));
    };
    out.write("RIFF", 4);
    le(dataBytes + 36, 4);
    out.write("WAVEfmt ", 8);
    le(16, 4), le(1, 2), le(2, 2), le(kPcmRate, 4), le(kPcmRate * 6, 4), le(6, 2), le(24, 2);
    out.write("data", 4);
    le(dataBytes, 4);
    std::vector<char> block(6 * 65536);
    for (std::uint64_t done = 0; done < kPcmFrames; done += 65536) {
      for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 13 + done);
      out.write(block.data(), static_cast<std::streamsize>(
                                  6 * std::min<std::uint64_t>(65536, kPcmFrames - done)));
    }
    std::atexit(
        [] { std::remove(("/tmp/lumaro-bench-" + std::to_string(::getpid()) + ".wav").c_str()); });
    return platform::Utf8ToUtf16(name);
  }();
  return path;
}

void SetWorkers(benchmark::State& state) {
  dsp::SetWorkerCountOverride(static_cast<unsigned>(state.range(0)));
}

// WAV read + PcmToFloat; reports the resident memory beyond the PcmBuffer and AudioBuffer.
void BM_WavReadToFloat(benchmark::State& state) {
  SetWorkers(state);
  const std::u16string& path = PcmTrackPath();
  platform::StopWord stop;
  double extraMiB = 0.0;
  for (auto _ : state) {
    const std::uint64_t before = StatusBytes("VmRSS:");
    ResetPeakResident();
    dsp::BufferSlot slot;
    if (decode::ReadWav(path, slot, stop) != kOk) state.SkipWithError("ReadWav failed");
    if (dsp::PcmToFloat(slot, stop) != kOk) state.SkipWithError("PcmToFloat failed");
    benchmark::DoNotOptimize(slot.Get<dsp::AudioBuffer>());
    const double buffers = (kPcmFrames + 96) * (6.0 + 16.0);
    extraMiB = (static_cast<double>(StatusBytes("VmHWM:")) - before - buffers) / (1 << 20);
  }
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kTrackSeconds, benchmark::Counter::kIsRate);
  state.counters["extra_MiB"] = extraMiB;
  dsp::SetWorkerCountOverride(0);
}
BENCHMARK(BM_WavReadToFloat)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// PcmToFloat alone on 24-bit stereo.
void BM_PcmToFloat(benchmark::State& state) {
  SetWorkers(state);
  platform::StopWord stop;
  for (auto _ : state) {
    state.PauseTiming();
    dsp::PcmBufferPtr pcm;
    if (dsp::NewPcmBuffer(pcm, dsp::kPcmInteger, 2, 24, kPcmRate, kPcmFrames) != kOk) {
      state.SkipWithError("no memory");
      break;
    }
    dsp::BufferSlot slot;
    slot.Put(std::move(pcm));
    state.ResumeTiming();
    if (dsp::PcmToFloat(slot, stop) != kOk) state.SkipWithError("PcmToFloat failed");
    benchmark::DoNotOptimize(slot.Get<dsp::AudioBuffer>());
    state.PauseTiming();
    slot.Clear();
    state.ResumeTiming();
  }
  state.counters["samples_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kPcmFrames * 2, benchmark::Counter::kIsRate);
  dsp::SetWorkerCountOverride(0);
}
BENCHMARK(BM_PcmToFloat)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// DsdToFloat on a five-minute stereo track; arg 1 is the DSD multiple (64, 128, 256, 512).
void BM_DsdToFloat(benchmark::State& state) {
  SetWorkers(state);
  const auto rate = static_cast<std::uint32_t>(44100 * state.range(1));
  const std::uint64_t length = kTrackSeconds * rate / 8;
  platform::StopWord stop;
  for (auto _ : state) {
    state.PauseTiming();
    dsp::DsdBufferPtr dsd;
    if (dsp::NewDsdBuffer(dsd, rate, length) != kOk) {
      state.SkipWithError("no memory");
      break;
    }
    for (std::uint64_t i = 0; i < 2 * length; ++i) {
      dsd->Data()[i] = static_cast<unsigned char>((i * 2654435761U) >> 13);
    }
    dsp::BufferSlot slot;
    slot.Put(std::move(dsd));
    state.ResumeTiming();
    if (dsp::DsdToFloat(slot, stop) != kOk) state.SkipWithError("DsdToFloat failed");
    benchmark::DoNotOptimize(slot.Get<dsp::AudioBuffer>());
    state.PauseTiming();
    slot.Clear();
    state.ResumeTiming();
  }
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kTrackSeconds, benchmark::Counter::kIsRate);
  dsp::SetWorkerCountOverride(0);
}
BENCHMARK(BM_DsdToFloat)
    ->Args({1, 64})
    ->Args({1, 128})
    ->Args({1, 256})
    ->Args({1, 512})
    ->Args({2, 64})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

constexpr std::uint32_t kFlacRate = 44100;
constexpr std::uint64_t kFlacFrames = kTrackSeconds * kFlacRate;

// A 16-bit stereo FLAC of two tones over a little noise (so that it does not compress to
// nothing) in the temporary directory, written once with libsndfile.
const std::u16string& FlacTrackPath() {
  static const std::u16string path = [] {
    const std::string name = "/tmp/lumaro-bench-" + std::to_string(::getpid()) + ".flac";
    SF_INFO info{};
    info.samplerate = kFlacRate;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(name.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return std::u16string();
    constexpr std::uint64_t kBlock = 65536;
    std::vector<short> block(2 * kBlock);
    std::uint32_t noise = 1;
    for (std::uint64_t done = 0; done < kFlacFrames; done += kBlock) {
      const std::uint64_t frames = std::min(kBlock, kFlacFrames - done);
      for (std::uint64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(done + i) / kFlacRate;
        for (int c = 0; c < 2; ++c) {
          noise = noise * 1664525U + 1013904223U;
          const double tone = 9000 * std::sin(6.283185307 * (440 + 110 * c) * t) +
                              6000 * std::sin(6.283185307 * 1000 * t);
          block[2 * i + c] = static_cast<short>(tone + static_cast<int>(noise >> 24) - 128);
        }
      }
      sf_writef_short(file, block.data(), static_cast<sf_count_t>(frames));
    }
    sf_close(file);
    std::atexit(
        [] { std::remove(("/tmp/lumaro-bench-" + std::to_string(::getpid()) + ".flac").c_str()); });
    return platform::Utf8ToUtf16(name);
  }();
  return path;
}

// The platform decoder's whole read: decode into the paged store, then the AudioBuffer.
void BM_PlatformDecoderFlac(benchmark::State& state) {
  const std::u16string& path = FlacTrackPath();
  platform::StopWord stop;
  for (auto _ : state) {
    dsp::BufferSlot slot;
    std::uint32_t bits = 0;
    if (decode::ReadWithPlatformDecoder(path, slot, &bits, stop) != kOk) {
      state.SkipWithError("ReadWithPlatformDecoder failed");
      break;
    }
    benchmark::DoNotOptimize(slot.Get<dsp::AudioBuffer>());
  }
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kTrackSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlatformDecoderFlac)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return lumaro::bench::Main(argc, argv); }
