// The readers that run an outside program, on every system: the stream parser as a pure
// function, the common run of the stand-in program (silent, hanging, steady, stopped) and the
// Fluidsynth command line. The readers with the components beside the test program are in
// child_readers_<system>_test.cpp.
#include <atomic>
#include <chrono>
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

// A run of the stand-in program (platform/sim/component_standin.cpp) on a script of what it
// does, written into `dir` as `name`.
ChildRun StandinRun(const TempDir& dir, std::u16string_view name, const std::string& script) {
  ChildRun run;
  run.program = platform::Utf8ToUtf16(LUMARO_COMPONENT_STANDIN);
  run.arguments = {u"-i", dir.Write(name, Bytes(script.begin(), script.end()))};
  return run;
}

// A window of 10 ticks of 100 ms: short for a test, long against a program's start and against
// a writer every 50 ms.
constexpr WatchdogTiming kTestTiming{100, 10};

struct RunCase {
  const char* name;
  std::string script;
  bool succeeds;
  std::string output;  // compared when it succeeds
};

TEST(ChildRun, WatchdogAndOutputTable) {
  TempDir dir;
  const std::string hang = "sleep 30000";
  const RunCase cases[] = {
      {"writes and ends", "write abc", true, "abc"},
      {"writes nothing and ends", "", true, ""},
      {"fails without output", "exit 3", true, ""},
      {"reads no input", "drain\nwrite in", true, "in"},
      {"error output is discarded", "error 1\nerror 200000\nwrite o", true, "o"},
      {"never writes", hang, false, ""},
      {"writes, then hangs", "write x\n" + hang, false, ""},
      {"a wrapper whose own child hangs",
       "run " + Utf8(dir.Write(u"hang", Bytes(hang.begin(), hang.end()))) + "\nwrite late", false,
       ""},
      {"keeps writing past two windows", "drip 40 50 x", true, std::string(40, 'x')},
  };
  // The first start may open what the system keeps for every later one.
  std::unique_ptr<dsp::PagedBuffer> output;
  platform::Word stop{0};
  ASSERT_EQ(RunChild(StandinRun(dir, u"warm-up", ""), stop, &output, kTestTiming), kOk);
  const int handles = testing::OpenHandleCount();
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ChildRun run = StandinRun(dir, u"script", c.script);
    const Clock::time_point start = Clock::now();
    const Result result = RunChild(run, stop, &output, kTestTiming);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(testing::NoChildLeft());
    EXPECT_EQ(testing::OpenHandleCount(), handles);
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
  for (const char* script : {"flood", "sleep 30000"}) {
    SCOPED_TRACE(script);
    const ChildRun run = StandinRun(dir, u"script", script);
    platform::Word stop{0};
    std::atomic<bool> asked{false};
    Clock::time_point stopAt;
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
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
    EXPECT_LT(end - stopAt, std::chrono::milliseconds(2000));
    EXPECT_TRUE(testing::NoChildLeft());
  }
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
