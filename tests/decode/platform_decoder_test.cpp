#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <limits>

#include "decode/platform_decoder_reader.h"
#include "tests/support/audio_files.h"
#include "tests/support/audio_slot.h"

namespace lumaro::testing {
namespace {

// More frames than one decoded piece holds in the layouts of 32-bit samples and up, so pieces and
// runs must join seamlessly.
constexpr std::size_t kFrames = 140001;

// Interleaved samples a decoder must deliver exactly: B-bit integers over 2^(B-1), full scale
// at both ends; a float file also holds a NaN and an infinity.
std::vector<double> Samples(unsigned bits, std::size_t count, bool isFloat) {
  const double top = std::ldexp(1.0, static_cast<int>(bits) - 1);
  std::vector<double> samples(count);
  for (std::size_t i = 0; i < count; ++i) {
    samples[i] = (static_cast<double>((i * 2654435761U) % (2 * std::uint64_t(top))) - top) / top;
  }
  if (count < 4) return samples;
  samples[0] = -1.0, samples[1] = (top - 1) / top;
  if (isFloat) samples[2] = std::numeric_limits<double>::quiet_NaN(), samples[3] = INFINITY;
  return samples;
}

bool IsFloat(int format) {
  return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT ||
         (format & SF_FORMAT_SUBMASK) == SF_FORMAT_DOUBLE;
}

// Writes the samples with libsndfile itself: integers placed in the top bits of 32, floats as is.
std::u16string WriteSound(const TempDir& dir, std::u16string_view name, int format, int channels,
                          int rate, const std::vector<double>& samples) {
  const std::u16string path = dir.File(name);
  SF_INFO info{.samplerate = rate, .channels = channels, .format = format};
  SNDFILE* file = sf_open(Utf8(path).c_str(), SFM_WRITE, &info);
  EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
  const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
  if (IsFloat(format)) {
    EXPECT_EQ(sf_writef_double(file, samples.data(), frames), frames);
  } else {
    std::vector<int> wide;
    for (double s : samples) wide.push_back(static_cast<int>(std::ldexp(s, 31)));
    EXPECT_EQ(sf_writef_int(file, wide.data(), frames), frames);
  }
  sf_close(file);
  return path;
}

TEST(PlatformDecoderTest, DeliversTheFirstTwoChannelsExactly) {
  struct Case {
    const char* name;
    int format;
    int channels;
    unsigned bits;  // of the samples written
    std::uint32_t width;
  } const cases[] = {
      {"Flac16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 16, 64},
      {"Flac24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 24, 64},
      {"Flac16Mono", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 16, 64},
      {"Flac24SixChannels", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 6, 24, 64},
      {"CafFloat", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 2, 24, 32},
      {"WavDouble", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 2, 24, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::vector<double> in = Samples(c.bits, kFrames * c.channels, IsFloat(c.format));
    dsp::BufferSlot slot;
    std::uint32_t bits = 0;
    ASSERT_EQ(
        decode::ReadWithPlatformDecoder(WriteSound(dir, u"in", c.format, c.channels, 48000, in),
                                        slot, &bits, platform::StopWord{}),
        kOk);
    EXPECT_EQ(bits, c.width);
    const dsp::AudioBuffer* audio = slot.Get<dsp::AudioBuffer>();
    ASSERT_EQ(audio->frameCount, kFrames);
    EXPECT_EQ(audio->sampleRate, 48000U);
    std::size_t wrong = 0;
    for (std::size_t f = 0; f < kFrames; ++f) {
      const double* first = &in[f * c.channels];
      const double left = std::isfinite(first[0]) ? first[0] : 0.0;
      const double right = c.channels == 1 ? left : std::isfinite(first[1]) ? first[1] : 0.0;
      wrong += audio->Frame(f)[0] != left || audio->Frame(f)[1] != right;
    }
    EXPECT_EQ(wrong, 0U);
  }
}

TEST(PlatformDecoderTest, FailsWithTheSlotEmpty) {
  constexpr int kFlac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  TempDir dir;
  struct Case {
    const char* name;
    std::u16string path;
    std::uint32_t stop = 0;
  } const cases[] = {
      {"NoFrames", WriteSound(dir, u"empty", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 2, 44100, {})},
      {"NotAudio", dir.Write(u"text.flac", Bytes(4000, 'x'))},
      {"Missing", dir.File(u"missing.flac")},
      {"Rate4000",
       WriteSound(dir, u"low", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 4000, Samples(16, 9, false))},
      {"Stopped", WriteSound(dir, u"stop", kFlac16, 2, 44100, Samples(16, 200, false)), 1},
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
