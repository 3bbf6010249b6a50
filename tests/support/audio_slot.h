#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "dsp/buffer_slot.h"
#include "dsp/worker_count.h"
#include "platform/os.h"

// Sample records for stage tests: slots holding an AudioBuffer, PcmBuffer or DsdBuffer made from
// given samples or bytes, their contents read back, and signals to fill them with.
namespace lumaro::testing {

// A slot holding an AudioBuffer at `rate` whose real frames are the interleaved `samples`
// (left, right, left, …); the lead-in frames are left as NewAudioBuffer made them.
inline dsp::BufferSlot AudioSlot(const std::vector<double>& samples, std::uint32_t rate = 44100,
                                 std::uint64_t leadIn = 48) {
  dsp::AudioBufferPtr buffer;
  EXPECT_EQ(dsp::NewAudioBuffer(buffer, rate, samples.size() / 2, leadIn), kOk);
  dsp::BufferSlot slot;
  if (!buffer) return slot;
  std::copy(samples.begin(), samples.end(), buffer->Frame(0));
  slot.Put(std::move(buffer));
  return slot;
}

// A slot holding an AudioBuffer of `frames` frames at `rate`, real frame n holding
// {left(n), right(n)}.
inline dsp::BufferSlot AudioSlot(std::uint32_t rate, std::uint64_t frames,
                                 const std::function<double(std::uint64_t)>& left,
                                 const std::function<double(std::uint64_t)>& right,
                                 std::uint64_t leadIn = 48) {
  std::vector<double> samples(2 * frames);
  for (std::uint64_t n = 0; n < frames; ++n) {
    samples[2 * n] = left(n);
    samples[2 * n + 1] = right(n);
  }
  return AudioSlot(samples, rate, leadIn);
}

// The same function in both channels.
inline dsp::BufferSlot AudioSlot(std::uint32_t rate, std::uint64_t frames,
                                 const std::function<double(std::uint64_t)>& both,
                                 std::uint64_t leadIn = 48) {
  return AudioSlot(rate, frames, both, both, leadIn);
}

// A slot holding a PcmBuffer of one layout whose real frames are `bytes`.
inline dsp::BufferSlot PcmSlot(std::uint16_t format, std::uint8_t channels, std::uint8_t bits,
                               const std::vector<unsigned char>& bytes,
                               std::uint32_t rate = 44100) {
  dsp::PcmBufferPtr pcm;
  const std::uint64_t frames = bytes.size() / (channels * bits / 8U);
  EXPECT_EQ(dsp::NewPcmBuffer(pcm, format, channels, bits, rate, frames), kOk);
  dsp::BufferSlot slot;
  if (!pcm) return slot;
  if (!bytes.empty()) std::memcpy(pcm->Data(), bytes.data(), bytes.size());
  slot.Put(std::move(pcm));
  return slot;
}

// A slot holding a DsdBuffer of `length` byte pairs, pair i being {left(i), right(i)}.
inline dsp::BufferSlot DsdSlot(std::uint32_t rate, std::uint64_t length,
                               const std::function<unsigned char(std::uint64_t)>& left,
                               const std::function<unsigned char(std::uint64_t)>& right) {
  dsp::DsdBufferPtr dsd;
  EXPECT_EQ(dsp::NewDsdBuffer(dsd, rate, length), kOk);
  dsp::BufferSlot slot;
  if (!dsd) return slot;
  for (std::uint64_t i = 0; i < length; ++i) {
    dsd->Data()[2 * i] = left(i);
    dsd->Data()[2 * i + 1] = right(i);
  }
  slot.Put(std::move(dsd));
  return slot;
}

// Every byte of both channels `fill`.
inline dsp::BufferSlot DsdSlot(std::uint32_t rate, std::uint64_t length, unsigned char fill) {
  const auto same = [fill](std::uint64_t) { return fill; };
  return DsdSlot(rate, length, same, same);
}

// Byte i is start + step · i (mod 256); RampBytes(n, …) gives the first n of them.
inline std::function<unsigned char(std::uint64_t)> ByteRamp(unsigned step, unsigned start = 0) {
  return [=](std::uint64_t i) { return static_cast<unsigned char>(start + step * i); };
}
inline std::vector<unsigned char> RampBytes(std::size_t n, unsigned step, unsigned start = 0) {
  std::vector<unsigned char> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = ByteRamp(step, start)(i);
  return bytes;
}

// The interleaved real frames of the AudioBuffer in the slot (empty when there is none).
inline std::vector<double> RealSamples(const dsp::BufferSlot& slot) {
  const dsp::AudioBuffer* b = slot.Get<dsp::AudioBuffer>();
  if (b == nullptr) return {};
  return {b->Frame(0), b->Frame(static_cast<std::int64_t>(b->frameCount))};
}

// The data bytes of the PcmBuffer or DsdBuffer in the slot (empty when there is none).
inline std::vector<unsigned char> RealBytes(const dsp::BufferSlot& slot) {
  if (const dsp::PcmBuffer* pcm = slot.Get<dsp::PcmBuffer>()) {
    return {pcm->Data(), pcm->Data() + pcm->DataSize()};
  }
  if (const dsp::DsdBuffer* dsd = slot.Get<dsp::DsdBuffer>()) {
    return {dsd->Data(), dsd->Data() + 2 * dsd->length};
  }
  return {};
}

// amplitude · sin(2π · frequency · n / rate + phase).
inline std::function<double(std::uint64_t)> Sine(double frequency, std::uint32_t rate,
                                                 double amplitude, double phase = 0.0) {
  return [=](std::uint64_t n) {
    return amplitude * std::sin(2.0 * M_PI * frequency * static_cast<double>(n) / rate + phase);
  };
}

// +amplitude for two frames, −amplitude for two, and so on: a cubic interpolation halfway between
// such pairs rises to 1.5 · amplitude.
inline std::function<double(std::uint64_t)> StepsInPairs(double amplitude) {
  return [amplitude](std::uint64_t n) { return n / 2 % 2 == 0 ? amplitude : -amplitude; };
}

// A constant signal.
inline std::function<double(std::uint64_t)> Flat(double value) {
  return [value](std::uint64_t) { return value; };
}

// `frames` stereo frames of seeded noise whose loudness swells and fades every few thousand
// frames, peaking below `peak`, so that level-driven stages see loud and quiet passages.
inline std::vector<double> SwellingNoise(std::uint64_t frames, double peak, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> samples(2 * frames);
  for (std::uint64_t i = 0; i < frames; ++i) {
    const double swell = 0.02 + 0.98 * static_cast<double>((i / 4096) % 16) / 15.0;
    samples[2 * i] = peak * swell * uniform(random);
    samples[2 * i + 1] = peak * swell * uniform(random);
  }
  return samples;
}

// Sets the stages' worker count for the life of the scope; the machine's own count returns
// however the test leaves it.
class ScopedWorkerCount {
 public:
  explicit ScopedWorkerCount(unsigned workers) { dsp::SetWorkerCountOverride(workers); }
  ~ScopedWorkerCount() { dsp::SetWorkerCountOverride(0); }
  ScopedWorkerCount(const ScopedWorkerCount&) = delete;
  ScopedWorkerCount& operator=(const ScopedWorkerCount&) = delete;
};

// Starts threads like the system does but refuses the start number `failAt` (0-based; -1: none),
// and counts the starts asked.
struct FailingStarter final : platform::ThreadStarter {
  explicit FailingStarter(int failAt) : failAt(failAt) {}
  std::unique_ptr<platform::Thread> Start(std::function<void()> body) noexcept override {
    if (starts++ == failAt) return nullptr;
    return platform::SystemThreads().Start(std::move(body));
  }
  int failAt, starts = 0;
};

}  // namespace lumaro::testing
