// Media Foundation, the Windows program's own decoder, reading WAV files made here.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "decode/platform_decoder_reader.h"
#include "tests/support/audio_files.h"
#include "tests/support/audio_slot.h"

namespace lumaro::testing {
namespace {

// More frames than one decoded piece of 32-bit float stereo holds, so the decoder's samples are
// handed out across pieces.
constexpr std::size_t kFrames = 140001;

// Integer samples of `bits` over their whole range, full scale at both ends.
std::vector<std::int64_t> Samples(unsigned bits, std::size_t count) {
  const std::int64_t top = std::int64_t{1} << (bits - 1);
  std::vector<std::int64_t> samples(count);
  for (std::size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<std::int64_t>((i * 2654435761U) % (2 * top)) - top;
  }
  samples[0] = -top, samples[1] = top - 1;
  return samples;
}

// Every sample of 24 bits and fewer is a 32-bit float exactly, so whatever converts them to the
// reader's floats must deliver s / 2^(B-1) and nothing else.
TEST(MediaFoundationTest, DeliversTheFirstTwoChannelsExactly) {
  struct Case {
    const char* name;
    std::uint16_t channels;
    std::uint16_t bits;
    std::uint32_t rate;
  } const cases[] = {
      {"Mono16", 1, 16, 44100},
      {"Stereo16", 2, 16, 48000},
      {"Stereo24", 2, 24, 96000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::vector<std::int64_t> in = Samples(c.bits, kFrames * c.channels);
    const WavSpec spec{.channels = c.channels, .rate = c.rate, .bits = c.bits};
    dsp::BufferSlot slot;
    std::uint32_t bits = 0;
    ASSERT_EQ(
        decode::ReadWithPlatformDecoder(dir.Write(u"in.wav", MakeWav(spec, PackLe(in, c.bits))),
                                        slot, &bits, platform::StopWord{}),
        kOk);
    EXPECT_EQ(bits, 32U);
    const dsp::AudioBuffer* audio = slot.Get<dsp::AudioBuffer>();
    ASSERT_EQ(audio->frameCount, kFrames);
    EXPECT_EQ(audio->sampleRate, c.rate);
    const double scale = 1.0 / static_cast<double>(std::int64_t{1} << (c.bits - 1));
    std::size_t wrong = 0;
    for (std::size_t f = 0; f < kFrames; ++f) {
      const double left = static_cast<double>(in[f * c.channels]) * scale;
      const double right = static_cast<double>(in[f * c.channels + c.channels - 1]) * scale;
      wrong += audio->Frame(f)[0] != left || audio->Frame(f)[1] != right;
    }
    EXPECT_EQ(wrong, 0U);
  }
}

TEST(MediaFoundationTest, FailsWithTheSlotEmpty) {
  TempDir dir;
  const Bytes stereo = PackLe(Samples(16, 2000), 16);
  struct Case {
    const char* name;
    std::u16string path;
    std::uint32_t stop = 0;
  } const cases[] = {
      {"NoFrames", dir.Write(u"empty.wav", MakeWav({}, {}))},
      {"NotAudio", dir.Write(u"text.wav", Bytes(4000, 'x'))},
      {"Missing", dir.File(u"missing.wav")},
      {"Stopped", dir.Write(u"stop.wav", MakeWav({}, stereo)), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dsp::BufferSlot slot = AudioSlot({0.5, 0.5});
    const platform::StopWord stop(c.stop);
    std::uint32_t bits = 0;
    EXPECT_NE(decode::ReadWithPlatformDecoder(c.path, slot, &bits, stop), kOk);
    EXPECT_TRUE(slot.Empty());
  }
}

}  // namespace
}  // namespace lumaro::testing
