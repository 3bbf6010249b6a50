// The readers that run an outside program: the stream parser as a pure function, the common run
// against stand-in scripts (silent, hanging, steady, stopped), and the real FFmpeg and Fluidsynth
// beside the test program.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

#include "decode/byte_order.h"
#include "decode/child_run.h"
#include "decode/ffmpeg_reader.h"
#include "decode/fluidsynth_reader.h"
#include "decode/wav_stream.h"
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
using testing::Chunk;
using testing::TempDir;
using testing::Utf8;
using Clock = std::chrono::steady_clock;

// ---- The stream parser -------------------------------------------------------------------

Bytes Doubles(std::size_t count) {
  Bytes bytes(count * 8);
  for (std::size_t i = 0; i < count; ++i) StoreLe<std::uint64_t>(&bytes[i * 8], i);
  return bytes;
}

struct StreamCase {
  const char* name;
  testing::WavSpec spec;
  std::size_t values;
  std::uint64_t frames;  // 0: the parse fails
};

TEST(FloatWavStream, HeaderChunksAndLengthTable) {
  using testing::kWavSubFormatFloat;
  const Bytes list = {'I', 'N', 'F', 'O', 'x'};
  const StreamCase cases[] = {
      {"plain", {.formatTag = 3, .bits = 64}, 8, 4},
      {"plain, 18-byte format", {.formatTag = 3, .bits = 64, .formatSize = 18}, 8, 4},
      {"extensible", {.formatTag = 0xFFFE, .bits = 64, .subFormat = kWavSubFormatFloat}, 8, 4},
      {"tags before data, odd size padded",
       {.formatTag = 3, .bits = 64, .between = {Chunk{"LIST", list}}},
       8,
       4},
      {"data size says 0", {.formatTag = 3, .bits = 64, .dataSize = 0}, 6, 3},
      {"data size says 0xFFFFFFFF", {.formatTag = 3, .bits = 64, .dataSize = 0xFFFFFFFF}, 6, 3},
      {"odd value count drops the last", {.formatTag = 3, .bits = 64}, 7, 3},
      {"two values are one frame", {.formatTag = 3, .bits = 64}, 2, 1},
      {"one value", {.formatTag = 3, .bits = 64}, 1, 0},
      {"integer tag", {.formatTag = 1, .bits = 64}, 8, 0},
      {"mono", {.formatTag = 3, .channels = 1, .bits = 64}, 8, 0},
      {"32-bit frames", {.formatTag = 3, .bits = 32}, 8, 0},
      {"extensible 32-bit",
       {.formatTag = 0xFFFE, .bits = 32, .subFormat = kWavSubFormatFloat},
       8,
       0},
      {"format size 20", {.formatTag = 3, .bits = 64, .formatSize = 20}, 8, 0},
      {"rate 7999", {.formatTag = 3, .rate = 7999, .bits = 64}, 8, 0},
      {"data before format", {.formatTag = 3, .bits = 64, .dataFirst = true}, 8, 0},
      {"chunk ahead of format",
       {.formatTag = 3, .bits = 64, .before = {Chunk{"JUNK", {1, 2}}}},
       8,
       0},
      {"negative chunk size",
       {.formatTag = 3, .bits = 64, .between = {Chunk{"LIST", {}, 0x80000000}}},
       8,
       0},
      {"chunk past the end",
       {.formatTag = 3, .bits = 64, .between = {Chunk{"LIST", {}, 0x7FFFFFFF}}},
       8,
       0},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = testing::MakeWav(c.spec, Doubles(c.values));
    SpanBytes bytes(stream);
    FloatWavStream parsed;
    const Result result = ParseFloatWavStream(bytes, &parsed);
    if (c.frames == 0) {
      EXPECT_NE(result, kOk);
      continue;
    }
    ASSERT_EQ(result, kOk);
    EXPECT_EQ(parsed.frames, c.frames);
    EXPECT_EQ(parsed.sampleRate, c.spec.rate);
    EXPECT_EQ(LoadLe<std::uint64_t>(&stream[parsed.dataOffset]), 0U) << "the first value";
    // Every cut of a good stream fails or holds the whole frames before the cut.
    const std::uint64_t dataOffset = parsed.dataOffset;
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
      SpanBytes prefix(std::span(stream.data(), cut));
      FloatWavStream part;
      if (ParseFloatWavStream(prefix, &part) != kOk) continue;
      EXPECT_EQ(part.frames, (cut - dataOffset) / 16) << "cut at " << cut;
      EXPECT_GE(cut, dataOffset + 16) << "cut at " << cut;
    }
  }
  // The identifiers and the top of the rate range.
  const Bytes good = testing::MakeWav({.formatTag = 3, .bits = 64}, Doubles(8));
  for (const auto& [at, value] : {std::pair<std::size_t, std::uint32_t>{0, 0x58464952},  // RIFX
                                  {8, 0x45564157 + 1},                                   // WAVF
                                  {24, 0x80000000}}) {                                   // rate
    Bytes bad = good;
    StoreLe<std::uint32_t>(&bad[at], value);
    SpanBytes bytes(bad);
    FloatWavStream parsed;
    EXPECT_NE(ParseFloatWavStream(bytes, &parsed), kOk) << at;
  }
}

// ---- The common run ----------------------------------------------------------------------

// A shell script in a temporary directory, standing in for an outside program.
std::u16string WriteScript(const TempDir& dir, std::u16string_view name, const std::string& body) {
  const std::string text = "#!/bin/sh\n" + body + "\n";
  const std::u16string path = dir.Write(name, Bytes(text.begin(), text.end()));
  EXPECT_EQ(::chmod(Utf8(path).c_str(), 0755), 0);
  return path;
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

// True when this process has no child left, running or unreaped.
bool NoChildLeft() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

// A window of 10 ticks of 50 ms: short enough for a test, long against a writer every 20 ms.
constexpr WatchdogTiming kTestTiming{50, 10};

struct RunCase {
  const char* name;
  std::string script;
  bool succeeds;
  std::string output;  // compared when it succeeds
};

TEST(ChildRun, WatchdogAndOutputTable) {
  TempDir dir;
  const RunCase cases[] = {
      {"writes and ends", "printf 'abc'", true, "abc"},
      {"writes nothing and ends", "exit 0", true, ""},
      {"reads no input", "cat; printf 'in'", true, "in"},
      {"error output is discarded", "printf 'x' >&2; yes e | head -c 200000 >&2; printf o", true,
       "o"},
      {"never writes", "exec sleep 30", false, ""},
      {"writes, then hangs", "printf 'x'; exec sleep 30", false, ""},
      {"a wrapper whose own child hangs", "sleep 30; printf 'late'", false, ""},
      {"keeps writing past several windows",
       "i=0; while [ $i -lt 30 ]; do printf x; sleep 0.02; i=$((i+1)); done", true,
       std::string(30, 'x')},
  };
  const int descriptors = OpenDescriptors();
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    ChildRun run;
    run.program = WriteScript(dir, u"stand-in", c.script);
    platform::Word stop{0};
    std::unique_ptr<dsp::PagedBuffer> output;
    const Clock::time_point start = Clock::now();
    const Result result = RunChild(run, stop, &output, kTestTiming);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(NoChildLeft());
    EXPECT_EQ(OpenDescriptors(), descriptors);
    if (!c.succeeds) {
      EXPECT_NE(result, kOk);
      EXPECT_EQ(output, nullptr);
      continue;
    }
    ASSERT_EQ(result, kOk);
    std::string text(output->Length(), '\0');
    EXPECT_EQ(output->Read(text.data(), text.size()), text.size());
    EXPECT_EQ(text, c.output);
  }
}

TEST(ChildRun, StopEndsARunWithinATickWhetherTheChildWritesOrNot) {
  TempDir dir;
  const int descriptors = OpenDescriptors();
  for (const char* script :
       {"while :; do head -c 65536 /dev/zero; sleep 0.01; done", "exec sleep 30"}) {
    SCOPED_TRACE(script);
    ChildRun run;
    run.program = WriteScript(dir, u"stand-in", script);
    platform::Word stop{0};
    std::atomic<bool> asked{false};
    Clock::time_point stopAt;
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      stopAt = Clock::now();
      asked = true;
      stop = 1;
    });
    std::unique_ptr<dsp::PagedBuffer> output;
    const Result result = RunChild(run, stop, &output);  // the real 100 ms tick
    const Clock::time_point end = Clock::now();
    stopper.join();
    EXPECT_NE(result, kOk);
    EXPECT_TRUE(asked);
    // About one tick; the bound leaves room for a loaded machine, far below a window.
    EXPECT_LT(end - stopAt, std::chrono::milliseconds(1000));
    EXPECT_TRUE(NoChildLeft());
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(ChildRun, MissingProgramFailsAtOnce) {
  ChildRun run;
  run.program = u"/nonexistent/stand-in";
  platform::Word stop{0};
  std::unique_ptr<dsp::PagedBuffer> output;
  EXPECT_NE(RunChild(run, stop, &output), kOk);
  std::u16string program;
  EXPECT_NE(FindBesideProgram(u"no-such-program", u"/", &program), kOk);
}

// ---- The real children beside the test program --------------------------------------------

// The build links the components beside the test program; without them the test fails (the
// project's bootstrap installs them).
#define REQUIRE_BESIDE_PROGRAM(name)                                        \
  do {                                                                      \
    std::u16string found = platform::ExecutableDirectory();                 \
    ASSERT_TRUE(platform::PathAppend(found, name) && IsExistingFile(found)) \
        << "no " << Utf8(name) << " beside the test program (bootstrap)";   \
  } while (0)

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

TEST(FluidsynthReader, EachFontOnceWithSlotOneLastAndTheLineLimit) {
  const std::array<std::u16string, 3> fonts = {u"/p/a.sf2", u"/p/b.sf2", u"/p/c.sf2"};
  struct Case {
    std::array<std::u16string_view, 3> names;
    std::vector<std::u16string> chosen;
  } cases[] = {
      {{u"a.sf2", u"a.sf2", u"a.sf2"}, {u"/p/a.sf2"}},
      {{u"a.sf2", u"A.SF2", u"c.sf2"}, {u"/p/c.sf2", u"/p/a.sf2"}},
      {{u"a.sf2", u"b.sf2", u"a.sf2"}, {u"/p/b.sf2", u"/p/a.sf2"}},
      {{u"a.sf2", u"b.sf2", u"b.sf2"}, {u"/p/b.sf2", u"/p/a.sf2"}},
      {{u"a.sf2", u"b.sf2", u"c.sf2"}, {u"/p/c.sf2", u"/p/b.sf2", u"/p/a.sf2"}},
  };
  for (const Case& c : cases) {
    const std::vector<std::u16string> words = FluidsynthArguments(fonts, c.names, u"/m.mid");
    ASSERT_EQ(words.size(), 10 + c.chosen.size() + 1);
    EXPECT_EQ(std::vector(words.begin() + 10, words.end() - 1), c.chosen);
    EXPECT_EQ(words.back(), u"/m.mid");
  }
  // 37 + 3 x (8 + 3) + 6 + 1 = 77 units; the line is refused from 1023 units on.
  EXPECT_EQ(FluidsynthCommandLineLength(fonts, u"/m.mid"), 77U);
  EXPECT_TRUE(CommandLineFits(1022));
  EXPECT_FALSE(CommandLineFits(1023));
}

}  // namespace
}  // namespace lumaro::decode
