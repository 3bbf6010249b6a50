// The lumaro program with the system's own FFmpeg and Fluidsynth that the build links beside it
// on POSIX systems, and the system's decoder (libsndfile) when they are not allowed or missing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/text.h"
#include "tests/shell/tone.h"
#include "tests/support/audio_files.h"
#include "tests/support/process.h"
#include "tools/midi_file.h"

namespace lumaro::testing {
namespace {

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

}  // namespace
}  // namespace lumaro::testing
