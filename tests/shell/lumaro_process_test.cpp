// The lumaro program run as a process on files made here: what it prints, its exit status and
// what the File output wrote.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/text.h"
#include "tests/shell/tone.h"
#include "tests/support/audio_files.h"
#include "tests/support/process.h"

namespace lumaro::testing {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::Not;

ProcessRun Lumaro(std::vector<std::string> args) {
  args.insert(args.begin(), LUMARO_PROGRAM);
  return RunProcess(args);
}

struct StatusCase {
  const char* name;
  const char* file;  // made by the test: "tone.wav", "tone.dsf", "dir", "garbage.wav", missing
  int status;
  const char* lastLine;  // a prefix of the last status line
};

class StatusLinesTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusLinesTest, PrintsEachStatusLineAndEndsWithTheMatchingExitStatus) {
  const StatusCase& c = GetParam();
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File(u"tone.wav"), MakeWav({}, PackLe(ToneSamples(), 16))));
  ASSERT_TRUE(
      WriteFileBytes(dir.File(u"tone.dsf"), MakeDsf({}, {Bytes(44100, 0x69), Bytes(44100, 0x96)})));
  ASSERT_TRUE(WriteFileBytes(dir.File(u"garbage.wav"), Bytes(300, 0x5A)));
  std::filesystem::create_directory(std::filesystem::path(dir.File(u"dir")));
  const ProcessRun run = Lumaro({"--once", "--fast", "--output", Utf8(dir.File(u"out.wav")),
                                 Utf8(dir.File(platform::Utf8ToUtf16(c.file)))});
  EXPECT_EQ(run.status, c.status);
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ(run.lines.front(), "Registering file list ...");
  EXPECT_TRUE(run.lines.back().starts_with(c.lastLine)) << run.lines.back();
}

INSTANTIATE_TEST_SUITE_P(
    Files, StatusLinesTest,
    ::testing::Values(StatusCase{"wav", "tone.wav", 0, "Decode: 16bit 44100Hz - Out: "},
                      StatusCase{"dsf", "tone.dsf", 0, "Decode: 1bit 2822400Hz - Out: "},
                      StatusCase{"missing", "nothing.wav", 1, "ERROR: path not found"},
                      StatusCase{"directory", "dir", 1, "ERROR: directory path"},
                      StatusCase{"unreadable", "garbage.wav", 1, "ERROR: read failed"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LumaroTest, FileOutputHoldsTheTrackBitExactFollowedOnlyBySilence) {
  TempDir dir;
  const std::vector<std::int64_t> samples = ToneSamples();
  ASSERT_TRUE(WriteFileBytes(dir.File(u"tone.wav"), MakeWav({}, PackLe(samples, 16))));
  const ProcessRun run = Lumaro({"--once", "--fast", "--rate", "44100", "--output",
                                 Utf8(dir.File(u"out.wav")), Utf8(dir.File(u"tone.wav"))});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.lines.back(), "Decode: 16bit 44100Hz - Out: 32/32bit 44100Hz");
  const auto written = ReadFileBytes(dir.File(u"out.wav"));
  ASSERT_TRUE(written.has_value());
  const Bytes expected = PackLe(
      [&] {
        std::vector<std::int64_t> wide;
        for (std::int64_t s : samples) wide.push_back(s * 65536);
        return wide;
      }(),
      32);
  const std::string out(written->begin(), written->end());
  const std::size_t data = out.find("data");
  ASSERT_NE(data, std::string::npos);
  ASSERT_GE(written->size(), data + 8 + expected.size());
  const Bytes track(written->begin() + data + 8, written->begin() + data + 8 + expected.size());
  EXPECT_EQ(track, expected);
  const Bytes tail(written->begin() + data + 8 + expected.size(), written->end());
  EXPECT_EQ(tail, Bytes(tail.size(), 0));
}

// A copy of the program in a directory of its own, with the stand-in program beside it as ffmpeg
// and fluidsynth and a sound font for the latter. The stand-in writes what the track's script
// says: here a stream of the tone as 64-bit floats.
struct ProgramWithStandIns {
  ProgramWithStandIns() {
    program = Utf8(dir.File(platform::ProgramFileName(u"lumaro")));
    std::filesystem::copy_file(LUMARO_PROGRAM, program);
    for (const char16_t* name : {u"ffmpeg", u"fluidsynth"}) {
      std::filesystem::copy_file(LUMARO_COMPONENT_STANDIN,
                                 std::filesystem::path(dir.File(platform::ProgramFileName(name))));
    }
    dir.Write(u"piano.sf2", Bytes{1});
    Bytes doubles;
    for (const std::int64_t s : ToneSamples()) {
      const auto bits = std::bit_cast<std::uint64_t>(static_cast<double>(s) / 32768.0);
      for (int b = 0; b < 8; ++b) doubles.push_back(static_cast<unsigned char>(bits >> (8 * b)));
    }
    wavStream = Utf8(dir.Write(u"tone-wav.raw", MakeWav({.formatTag = 3, .bits = 64}, doubles)));
    rawStream = Utf8(dir.Write(u"tone-doubles.raw", doubles));
  }
  // Writes the script that makes the stand-in write `stream`, as the track `name` in `where`.
  std::string Track(const TempDir& where, std::u16string_view name,
                    const std::string& stream) const {
    const std::string script = "copy " + stream;
    return Utf8(where.Write(name, Bytes(script.begin(), script.end())));
  }

  TempDir dir;
  std::string program, wavStream, rawStream;
};

// The tone as the File output writes it at 32 bits: exact, as |s| < 16384.
Bytes ToneAt32Bits() {
  std::vector<std::int64_t> wide;
  for (std::int64_t s : ToneSamples()) wide.push_back(s * 65536);
  return PackLe(wide, 32);
}

// The program runs each component it finds beside it, and plays exactly what it wrote.
TEST(LumaroTest, ComponentsBesideTheProgramPlayWhatTheyWrite) {
  const ProgramWithStandIns copy;
  const ProcessRun devices = RunProcess({copy.program, "devices"});
  EXPECT_THAT(devices.lines,
              Contains(AllOf(HasSubstr(Utf8(platform::ProgramFileName(u"ffmpeg")) + ":"),
                             EndsWith("found"), Not(EndsWith("not found")))));
  EXPECT_THAT(devices.lines,
              Contains(AllOf(HasSubstr(Utf8(platform::ProgramFileName(u"fluidsynth")) + ":"),
                             EndsWith("found (sound fonts: piano.sf2)"))));
  struct Case {
    std::u16string track;
    std::string stream, reader;
  } const cases[] = {
      {u"tone.flac", copy.wavStream, "Reading with FFmpeg ..."},
      {u"tone.mid", copy.rawStream, "Reading with Fluidsynth ..."},
  };
  TempDir work;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reader);
    const std::string out = Utf8(work.File(u"out.wav"));
    const ProcessRun run = RunProcess({copy.program, "--once", "--fast", "--rate", "44100",
                                       "--output", out, copy.Track(work, c.track, c.stream)});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.lines, Contains(c.reader));
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back(), "Decode: 64bit float 44100Hz - Out: 32/32bit 44100Hz");
    const auto written = ReadFileBytes(work.File(u"out.wav"));
    ASSERT_TRUE(written.has_value());
    const std::size_t data = std::string(written->begin(), written->end()).find("data");
    ASSERT_NE(data, std::string::npos);
    EXPECT_TRUE(BytesAt(*written, data + 8, ToneAt32Bits()));
  }
}

// The current directory of this process for the life of the object; the one before afterwards.
class InDirectory {
 public:
  explicit InDirectory(const std::u16string& path) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(std::filesystem::path(path));
  }
  ~InDirectory() { std::filesystem::current_path(before_); }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::filesystem::path before_;
};

// Relative names are taken from where the command was given, even after the MIDI reader has
// moved the current directory to the program's.
TEST(LumaroTest, RelativeTrackAndDefaultOutputStayInTheCallersDirectory) {
  const ProgramWithStandIns copy;
  TempDir work;
  copy.Track(work, u"tune.mid", copy.rawStream);
  ProcessRun run;
  {
    const InDirectory caller(work.Path());  // the program starts where the command was given
    run = RunProcess({copy.program, "--once", "--fast", "tune.mid", "tune.mid"});
  }
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(ReadFileBytes(work.File(u"lumaro-output.wav")).has_value());
  EXPECT_TRUE(ReadFileBytes(work.File(u"lumaro-output-2.wav")).has_value());
  EXPECT_FALSE(ReadFileBytes(copy.dir.File(u"lumaro-output.wav")).has_value());
}

TEST(LumaroTest, DevicesListsTheFileOutputWithItsRates) {
  const ProcessRun run = Lumaro({"devices"});
  EXPECT_EQ(run.status, 0);
  ASSERT_GE(run.lines.size(), 8u);
  EXPECT_EQ(run.lines[0], "W: File output");
  EXPECT_THAT(run.lines[1], HasSubstr("Share Auto 32000 44100 48000"));
  EXPECT_THAT(run.lines[1], HasSubstr("768000 D64 D128 D256"));
  // Then the outside components beside the program, by their names on this system.
  EXPECT_THAT(run.lines[3], HasSubstr("Outside components beside the program"));
  const auto name = [](std::u16string file) { return HasSubstr(Utf8(file) + ":"); };
  EXPECT_THAT(std::vector(run.lines.begin() + 4, run.lines.end()),
              ElementsAre(name(platform::ProgramFileName(u"ffmpeg")),
                          name(platform::ProgramFileName(u"fluidsynth")),
                          AllOf(name(platform::ModuleFileName(u"WinFMP")), EndsWith("not found")),
                          AllOf(name(platform::ModuleFileName(u"PMDWin")), EndsWith("not found"))));
}

TEST(LumaroTest, UsageErrorsEndWithStatusTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", "a.wav"},
      {"--peak-target", "101", "a.wav"},
      {"--comp-cell-size", "99", "a.wav"},
      {"--loudness-target", "x", "a.wav"},
      {"--assist", "loud", "a.wav"},
      {"--device", "Speakers", "a.wav"},
      {"--rate", "12345", "a.wav"},
      {"--winfmp", "a.wav"},  // no FM-music library beside the test build's program
      {"--device"},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(Lumaro(args).status, 2) << ::testing::PrintToString(args);
  }
  // Values within the dialogs' limits are taken (the file is missing: status 1).
  EXPECT_EQ(Lumaro({"--peak-target", "0", "--comp-cell-size", "4000", "--assist", "loudness",
                    "--device", "File output", "--rate", "D64", "--once", "/no/such.wav"})
                .status,
            1);
}

// The File output never writes over an input: the output file, or a later track's numbered one,
// named among the files or inside a play list is a usage error, and every input stays whole.
TEST(LumaroTest, AnOutputThatWouldOverwriteAnInputIsRefusedBeforeWriting) {
  TempDir dir;
  const Bytes wav = MakeWav({}, PackLe(ToneSamples(), 16));
  const std::string a = Utf8(dir.Write(u"a.wav", wav));
  const std::string b = Utf8(dir.Write(u"b.wav", wav));
  const std::string b2 = Utf8(dir.Write(u"b-2.wav", wav));
  const std::string list = Utf8(dir.Write(u"list.m3u8", Bytes(b.begin(), b.end())));
  const std::vector<std::vector<std::string>> cases = {
      {a, b},
      {a, b2},
      {list},
      {"--asio", "--device", "A: File output", a, b},
  };
  for (const auto& inputs : cases) {
    std::vector<std::string> args = {"--once", "--fast", "--output", b};
    args.insert(args.end(), inputs.begin(), inputs.end());
    EXPECT_EQ(Lumaro(args).status, 2) << ::testing::PrintToString(inputs);
    for (const std::string& file : {a, b, b2}) {
      EXPECT_EQ(ReadFileBytes(platform::Utf8ToUtf16(file)), wav) << file;
    }
  }
  // Another name is written as usual.
  EXPECT_EQ(Lumaro({"--once", "--fast", "--output", Utf8(dir.File(u"c.wav")), a, b}).status, 0);
}

TEST(LumaroTest, ComponentsAreFoundBesideACopiedProgram) {
  TempDir dir;
  const std::string copy = Utf8(dir.File(platform::ProgramFileName(u"lumaro")));
  std::filesystem::copy_file(LUMARO_PROGRAM, copy);
  EXPECT_EQ(RunProcess({copy, "--pmdwin", "--once", "/no/such.wav"}).status, 2);
  ASSERT_TRUE(WriteFileBytes(dir.File(platform::ModuleFileName(u"PMDWin")), Bytes{1}));
  ASSERT_TRUE(WriteFileBytes(dir.File(platform::ProgramFileName(u"fluidsynth")), Bytes{1}));
  ASSERT_TRUE(WriteFileBytes(dir.File(u"piano.sf2"), Bytes{1}));
  EXPECT_EQ(RunProcess({copy, "--pmdwin", "--pps", "--fluidsynth", "--sound-font2", "piano.sf2",
                        "--once", "/no/such.wav"})
                .status,
            1);
}

#ifndef _WIN32  // a signal to the program; Windows has console control events instead
// Ctrl-C while a track plays in real time: playback stops, the output file is completed (its
// sizes agree with its length) and the window ends idle.
TEST(LumaroTest, InterruptStopsPlaybackAndCompletesTheOutputFile) {
  TempDir dir;
  std::vector<std::int64_t> samples;
  for (int second = 0; second < 20; ++second) {
    const auto tone = ToneSamples();
    samples.insert(samples.end(), tone.begin(), tone.end());
  }
  ASSERT_TRUE(WriteFileBytes(dir.File(u"long.wav"), MakeWav({}, PackLe(samples, 16))));
  bool interrupted = false;
  // Standard output is read as it comes: the signal goes once playback has started.
  const ProcessRun run = RunProcess(
      {LUMARO_PROGRAM, "--output", Utf8(dir.File(u"out.wav")), Utf8(dir.File(u"long.wav"))}, 60,
      [&](pid_t pid, const std::string& line) {
        if (!interrupted && line.starts_with("Decode: ")) interrupted = ::kill(pid, SIGINT) == 0;
      });
  ASSERT_TRUE(interrupted);
  EXPECT_EQ(run.status, 0);
  const auto written = ReadFileBytes(dir.File(u"out.wav"));
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(RiffSizeMismatch(*written), "");
}

// Ctrl-C and SIGTERM end the process within a second even while a thread is stuck in a system
// call: here the output is a pipe nobody reads, and opening it waits for ever.
TEST(LumaroTest, ASignalEndsTheProcessWhileAThreadIsStuck) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File(u"tone.wav"), MakeWav({}, PackLe(ToneSamples(), 16))));
  const std::string pipe = Utf8(dir.File(u"pipe.wav"));
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    std::chrono::steady_clock::time_point sent;
    const ProcessRun run =
        RunProcess({LUMARO_PROGRAM, "--output", pipe, Utf8(dir.File(u"tone.wav"))}, 60,
                   [&](pid_t pid, const std::string& line) {
                     if (line == "Device initializing ..." && ::kill(pid, signal) == 0) {
                       sent = std::chrono::steady_clock::now();
                     }
                   });
    ASSERT_NE(sent, std::chrono::steady_clock::time_point{});
    // The process ends 0.8 s after the signal; the margin is for a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(5));
    EXPECT_EQ(run.status, 1);
  }
}
#endif

TEST(LumaroTest, FmChildSwitchEndsQuietly) {
  const ProcessRun run = Lumaro({"/fmpmd", "a.pmd"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.lines.empty());
}

}  // namespace
}  // namespace lumaro::testing
