#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dsp/buffer_slot.h"

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

// The interleaved real frames of the AudioBuffer in the slot (empty when there is none).
inline std::vector<double> RealSamples(const dsp::BufferSlot& slot) {
  const dsp::AudioBuffer* b = slot.Get<dsp::AudioBuffer>();
  if (b == nullptr) return {};
  return {b->Frame(0), b->Frame(static_cast<std::int64_t>(b->frameCount))};
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

}  // namespace lumaro::testing
