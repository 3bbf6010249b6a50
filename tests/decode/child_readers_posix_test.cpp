// The readers with the system's own FFmpeg and Fluidsynth, which the build links beside the test
// program on POSIX systems: lossless files sample for sample, a MIDI note rendered, and the
// refusals before any child starts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "decode/child_run.h"
#include "decode/ffmpeg_reader.h"
#include "decode/fluidsynth_reader.h"
#include "dsp/audio_buffer.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/text.h"
#include "tests/support/audio_files.h"
#include "tests/support/process.h"
#include "tools/midi_file.h"

namespace lumaro::decode {
namespace {

using testing::Bytes;
using testing::TempDir;
using testing::Utf8;

// The build links the components beside the test program; without them the test fails (the
// project's bootstrap installs them).
#define REQUIRE_BESIDE_PROGRAM(name)                                        \
  do {                                                                      \
    std::u16string found = platform::ExecutableDirectory();                 \
    ASSERT_TRUE(platform::PathAppend(found, name) && IsExistingFile(found)) \
        << "no " << Utf8(name) << " beside the test program (bootstrap)";   \
  } while (0)

// A child gets its three standard descriptors and nothing else: not one the player inherited or
// a library opened without close-on-exec, nor the player's own files.
TEST(ChildProcess, InheritsOnlyItsThreeStandardDescriptors) {
  const int leaked = ::open("/dev/null", O_RDONLY);  // no close-on-exec
  ASSERT_GE(leaked, 3);
  const std::string probe = "for fd in 0 1 2 " + std::to_string(leaked) +
                            "; do test -e /proc/self/fd/$fd && printf o || printf c; done";
  const std::unique_ptr<platform::ChildProcess> child =
      platform::ChildProcess::Start(u"/bin/sh", {u"-c", platform::Utf8ToUtf16(probe)});
  ::close(leaked);
  ASSERT_NE(child, nullptr);
  child->CloseInput();
  std::string seen(8, '\0');
  std::size_t got = 0;
  for (std::int64_t n; (n = child->ReadOutput(seen.data() + got, seen.size() - got)) > 0;) {
    got += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(seen.substr(0, got), "oooc");
}

TEST(FfmpegReader, LosslessFilesComeBackSampleForSample) {
  REQUIRE_BESIDE_PROGRAM(u"ffmpeg");
  TempDir dir;
  constexpr std::size_t kFrames = 5000;
  for (const std::uint16_t bits : {16, 24}) {
    SCOPED_TRACE(bits);
    const std::size_t width = bits / 8;
    Bytes data(kFrames * 2 * width);
    std::vector<std::int32_t> samples(kFrames * 2);
    const std::int32_t full = 1 << (bits - 1);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      samples[i] = static_cast<std::int32_t>((i * 7919) % (2 * full)) - full;
      for (std::size_t b = 0; b < width; ++b) {
        data[i * width + b] = static_cast<unsigned char>(samples[i] >> (8 * b));
      }
    }
    const std::u16string wav = dir.Write(u"source.wav", testing::MakeWav({.bits = bits}, data));
    const std::string flac = Utf8(dir.File(u"song.flac"));
    const std::u16string ffmpeg = platform::ExecutableDirectory() + u"/ffmpeg";
    ASSERT_EQ(
        testing::RunProcess({Utf8(ffmpeg), "-v", "quiet", "-y", "-i", Utf8(wav), flac}, 60).status,
        0);

    dsp::BufferSlot slot;
    platform::Word stop{0};
    ASSERT_EQ(ReadWithFfmpeg(platform::Utf8ToUtf16(flac), slot, stop), kOk);
    const dsp::AudioBuffer* audio = slot.Get<dsp::AudioBuffer>();
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->sampleRate, 44100U);
    ASSERT_EQ(audio->frameCount, kFrames);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      wrong += audio->Frame(0)[i] != std::ldexp(samples[i], 1 - bits);
    }
    EXPECT_EQ(wrong, 0U);
    stop = 1;
    EXPECT_NE(ReadWithFfmpeg(platform::Utf8ToUtf16(flac), slot, stop), kOk);
    EXPECT_TRUE(slot.Empty());
  }
  dsp::BufferSlot slot;
  platform::Word stop{0};
  EXPECT_NE(ReadWithFfmpeg(dir.Write(u"noise.flac", Bytes(4096, 0x5A)), slot, stop), kOk);
  EXPECT_TRUE(slot.Empty());
}

// Middle C held for half a second.
Bytes OneNoteMidi() { return tools::MakeMidi({{60, tools::kMidiTicksPerBeat, 100}}); }

TEST(FluidsynthReader, RendersANoteAt44100WithinFullScale) {
  REQUIRE_BESIDE_PROGRAM(u"fluidsynth");
  REQUIRE_BESIDE_PROGRAM(u"TimGM6mb.sf2");
  TempDir dir;
  const std::u16string midi = dir.Write(u"note.mid", OneNoteMidi());
  dsp::BufferSlot slot;
  platform::Word stop{0};
  ASSERT_EQ(ReadWithFluidsynth(midi, u"TimGM6mb.sf2", u"TimGM6mb.sf2", u"TimGM6mb.sf2", slot, stop),
            kOk);
  const dsp::AudioBuffer* audio = slot.Get<dsp::AudioBuffer>();
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->sampleRate, 44100U);
  EXPECT_GE(audio->frameCount, 44100U / 2);   // the note
  EXPECT_LE(audio->frameCount, 44100U * 10);  // and its release
  double peak = 0;
  for (std::uint64_t i = 0; i < 2 * audio->frameCount; ++i) {
    peak = std::max(peak, std::abs(audio->Frame(0)[i]));
  }
  EXPECT_GT(peak, 0.01);
  EXPECT_LE(peak, 1.0);
  EXPECT_EQ(platform::CurrentDirectory(), platform::ExecutableDirectory());

  // Missing or wrong fonts, non-MIDI names and a command line over the limit fail before any
  // child starts.
  const std::u16string text = dir.Write(u"note.txt", OneNoteMidi());
  std::u16string deep = dir.Path();
  for (int level = 0; level < 5; ++level) {  // five directories of 200 units: a 1000-unit path
    deep += u"/" + std::u16string(200, u'd');
    ::mkdir(Utf8(deep).c_str(), 0755);
  }
  const std::u16string tooLong = deep + u"/note.mid";
  ASSERT_TRUE(testing::WriteFileBytes(tooLong, OneNoteMidi()));
  for (const auto& [path, font] :
       {std::pair{midi, u"missing.sf2"}, std::pair{midi, u""}, std::pair{text, u"TimGM6mb.sf2"},
        std::pair{tooLong, u"TimGM6mb.sf2"}}) {
    EXPECT_NE(ReadWithFluidsynth(path, font, font, font, slot, stop), kOk);
    EXPECT_TRUE(slot.Empty());
  }
}

}  // namespace
}  // namespace lumaro::decode
