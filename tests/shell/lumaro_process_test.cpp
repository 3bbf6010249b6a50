// The lumaro program run as a process on files made here: what it prints, its exit status and
// what the File output wrote.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#endif

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "decode/byte_order.h"
#include "platform/os.h"
#include "platform/text.h"
#include "tests/support/audio_files.h"
#include "tests/support/process.h"
#include "tools/midi_file.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;

ProcessRun Lumaro(std::vector<std::string> args) {
  args.insert(args.begin(), LUMARO_PROGRAM);
  return RunProcess(args);
}

// One second of a stereo 16-bit 44.1 kHz tone.
std::vector<std::int64_t> ToneSamples() {
  std::vector<std::int64_t> samples;
  for (int i = 0; i < 44100; ++i) {
    samples.push_back(std::lround(8000 * std::sin(i * 0.05)));
    samples.push_back(std::lround(-6000 * std::sin(i * 0.031)));
  }
  return samples;
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

// The formats the outside components open, through the reader the components beside the program
// and the switches allow: the lines that name the reader, the decoded format, and for lossless
// files every sample of the source as the WAV path plays it.
TEST(LumaroTest, EveryFormatPlaysThroughTheReaderTheComponentsAllow) {
  TempDir dir;
  const std::vector<std::int64_t> samples = ToneSamples();
  const std::string wav = Utf8(dir.Write(u"tone.wav", MakeWav({}, PackLe(samples, 16))));
  const std::string bin = std::filesystem::path(LUMARO_PROGRAM).parent_path().string();
  for (const char* format : {"flac", "mp3", "opus"}) {
    ASSERT_EQ(
        RunProcess({bin + "/ffmpeg", "-v", "quiet", "-i", wav, Utf8(dir.File(u"tone.")) + format})
            .status,
        0);
  }
  dir.Write(u"tone.mid", tools::MakeMidi({{69, tools::kMidiTicksPerBeat, 100}}));
  const std::string bare =
      Utf8(dir.File(platform::ProgramFileName(u"lumaro")));  // a copy with nothing beside it
  std::filesystem::copy_file(LUMARO_PROGRAM, bare);
  std::vector<std::int64_t> wide;
  for (std::int64_t s : samples) wide.push_back(s * 65536);  // |s| < 16384: exact at full scale
  const Bytes exact = PackLe(wide, 32);

  struct Case {
    std::string program, option, file, reader, decoded;
    bool lossless;
  } const cases[] = {
      {LUMARO_PROGRAM, "--ffmpeg", "flac", "Reading with FFmpeg ...", "64bit float 44100Hz", true},
      {LUMARO_PROGRAM, "--no-ffmpeg", "flac", "Reading with libsndfile ...", "64bit float 44100Hz",
       true},
      {bare, "--once", "flac", "Reading with libsndfile ...", "64bit float 44100Hz", true},
      {LUMARO_PROGRAM, "--once", "mp3", "Reading with FFmpeg ...", "64bit float 44100Hz", false},
      {LUMARO_PROGRAM, "--once", "opus", "Reading with FFmpeg ...", "64bit float 48000Hz", false},
      {LUMARO_PROGRAM, "--once", "mid", "Reading with Fluidsynth ...", "64bit float 44100Hz",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program + " " + c.option + " " + c.file);
    const std::string out = Utf8(dir.File(u"out.wav"));
    const ProcessRun run = RunProcess({c.program, c.option, "--once", "--fast", "--rate", "44100",
                                       "--output", out, Utf8(dir.File(u"tone.")) + c.file});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.lines, ::testing::Contains(c.reader));
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "Reading with FFmpeg ..."),
              c.reader == "Reading with FFmpeg ..." ? 1 : 0);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_THAT(run.lines.back(), ::testing::StartsWith("Decode: " + c.decoded + " - Out: "));
    if (!c.lossless) continue;
    const auto written = ReadFileBytes(dir.File(u"out.wav"));
    ASSERT_TRUE(written.has_value());
    const std::size_t data = std::string(written->begin(), written->end()).find("data");
    ASSERT_GE(written->size(), data + 8 + exact.size());
    EXPECT_TRUE(BytesAt(*written, data + 8, exact));
  }
}

// Relative names are taken from where the command was given, even after the MIDI reader has
// moved the current directory to the program's.
TEST(LumaroTest, RelativeTrackAndDefaultOutputStayInTheCallersDirectory) {
  TempDir dir;
  dir.Write(u"tune.mid", tools::MakeMidi({{69, tools::kMidiTicksPerBeat, 100}}));
  const ProcessRun run = RunProcess({"/bin/sh", "-c",
                                     "cd '" + Utf8(dir.Path()) + "' && exec '" + LUMARO_PROGRAM +
                                         "' --once --fast tune.mid tune.mid"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(ReadFileBytes(dir.File(u"lumaro-output.wav")).has_value());
  EXPECT_TRUE(ReadFileBytes(dir.File(u"lumaro-output-2.wav")).has_value());
}

TEST(LumaroTest, DevicesListsTheFileOutputWithItsRates) {
  const ProcessRun run = Lumaro({"devices"});
  EXPECT_EQ(run.status, 0);
  ASSERT_GE(run.lines.size(), 8u);
  EXPECT_EQ(run.lines[0], "W: File output");
  EXPECT_THAT(run.lines[1], HasSubstr("Share Auto 32000 44100 48000"));
  EXPECT_THAT(run.lines[1], HasSubstr("768000 D64 D128 D256"));
  // Then the outside components beside the program (the build links ffmpeg and fluidsynth).
  EXPECT_THAT(run.lines[3], HasSubstr("Outside components beside the program"));
  EXPECT_THAT(std::vector(run.lines.begin() + 4, run.lines.end()),
              ElementsAre(HasSubstr("ffmpeg:"), HasSubstr("fluidsynth:"),
                          ::testing::EndsWith("not found"), ::testing::EndsWith("not found")));
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
  ASSERT_GE(written->size(), 44u);
  const auto le32 = [&](std::size_t at) { return decode::LoadLe<std::uint32_t>(&(*written)[at]); };
  EXPECT_EQ(le32(4), written->size() - 8);
  const std::string bytes(written->begin(), written->end());
  const std::size_t data = bytes.find("data");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(le32(data + 4), written->size() - data - 8);
}
#endif

TEST(LumaroTest, FmChildSwitchEndsQuietly) {
  const ProcessRun run = Lumaro({"/fmpmd", "a.pmd"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.lines.empty());
}

}  // namespace
}  // namespace lumaro::testing
