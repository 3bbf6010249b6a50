// lumaro-stage run as a process on files the test writes: chains, outputs and exit statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "decode/byte_order.h"
#include "tests/support/audio_files.h"
#include "tests/support/process.h"

namespace lumaro::testing {
namespace {

// Runs lumaro-stage with `args` (words split at spaces), output thrown away; answers its exit
// status.
int RunStage(const std::string& args) {
  std::vector<std::string> argv = {LUMARO_STAGE_PATH};
  for (std::size_t at = 0; at < args.size();) {
    const std::size_t end = std::min(args.find(' ', at), args.size());
    if (end > at) argv.push_back(args.substr(at, end - at));
    at = end + 1;
  }
  return RunProcess(argv).status;
}

TEST(LumaroStageTest, ChainsStagesAndWritesRawBytes) {
  TempDir dir;
  const std::vector<std::int64_t> samples = {32767, -32768, 16384, -1, 0, 100};
  ASSERT_TRUE(WriteFileBytes(dir.File(u"in.wav"), MakeWav({}, PackLe(samples, 16))));
  ASSERT_EQ(RunStage(Utf8(dir.File(u"in.wav")) + " " + Utf8(dir.File(u"out.raw")) +
                     " pcm-to-float --then clip-guard --then float-to-output 16 16 --workers 2"),
            0);
  const std::optional<Bytes> out = ReadFileBytes(dir.File(u"out.raw"));
  ASSERT_TRUE(out.has_value());
  ASSERT_EQ(out->size(), samples.size() * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<std::int16_t>((*out)[2 * i] | (*out)[2 * i + 1] << 8);
    EXPECT_EQ(v, std::nearbyint(static_cast<double>(samples[i]) / 32768.0 * 32767.0)) << i;
  }
}

// A resample straight followed by float-to-output runs as one stage with the bytes of the two
// run one after the other (here in two runs, through a 64-bit float WAV).
TEST(LumaroStageTest, ResampleIntoOutputBytesAreTheTwoStagesBytes) {
  TempDir dir;
  std::vector<std::int64_t> samples(2 * 44100 * 3);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = std::lround(32767.0 * std::sin(0.01 * static_cast<double>(i * (i % 7))));
  }
  ASSERT_TRUE(WriteFileBytes(dir.File(u"in.wav"), MakeWav({}, PackLe(samples, 16))));
  const std::string in = Utf8(dir.File(u"in.wav"));
  for (const char* rate : {"48000", "22050"}) {
    ASSERT_EQ(RunStage(in + " " + Utf8(dir.File(u"one.raw")) + " pcm-to-float --then resample " +
                       rate + " --then float-to-output 24 32"),
              0);
    ASSERT_EQ(
        RunStage(in + " " + Utf8(dir.File(u"mid.wav")) + " pcm-to-float --then resample " + rate),
        0);
    ASSERT_EQ(RunStage(Utf8(dir.File(u"mid.wav")) + " " + Utf8(dir.File(u"two.raw")) +
                       " pcm-to-float --then float-to-output 24 32"),
              0);
    const std::optional<Bytes> one = ReadFileBytes(dir.File(u"one.raw"));
    ASSERT_TRUE(one.has_value());
    EXPECT_GE(one->size(), 22050U * 3 * 8);
    EXPECT_EQ(one, ReadFileBytes(dir.File(u"two.raw"))) << rate;
  }
}

TEST(LumaroStageTest, DeviceBytesNarrowerThanTheirContainerAreWrittenAsExtensibleWav) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File(u"in.wav"), MakeWav({}, PackLe({100, -100, 7, -7}, 16))));
  // The valid bits are written for the extensible format only.
  const std::tuple<const char*, std::uint16_t, std::uint16_t, std::uint16_t> cases[] = {
      {"pcm-to-float --then float-to-output 24 32", 0xFFFE, 32, 24},
      {"pcm-to-float --then float-to-output 16 24", 0xFFFE, 24, 16},
      {"pcm-to-float --then float-to-output 24 24", 1, 24, 0},
      {"pcm-to-float --then float-to-output 32 32 float", 3, 32, 0},
  };
  for (const auto& [stages, tag, container, valid] : cases) {
    ASSERT_EQ(RunStage(Utf8(dir.File(u"in.wav")) + " " + Utf8(dir.File(u"out.wav")) + " " + stages),
              0)
        << stages;
    const std::optional<Bytes> out = ReadFileBytes(dir.File(u"out.wav"));
    ASSERT_TRUE(out.has_value());
    const auto le16 = [&](std::size_t at) { return decode::LoadLe<std::uint16_t>(&(*out)[at]); };
    EXPECT_EQ(le16(20), tag) << stages;
    EXPECT_EQ(le16(34), container) << stages;
    if (valid != 0) {
      EXPECT_EQ(le16(38), valid) << stages;
      EXPECT_EQ(std::string(out->begin() + 60, out->begin() + 64), "data");
      EXPECT_EQ(out->size(), 68U + 2 * 2 * container / 8);
    }
  }
}

TEST(LumaroStageTest, ExitStatusesSayWhoFailed) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File(u"in.wav"), MakeWav({}, PackLe({1, 2, 3, 4}, 16))));
  const std::string in = Utf8(dir.File(u"in.wav"));
  const std::string out = Utf8(dir.File(u"out.wav"));
  // Arguments, exit status.
  const std::pair<std::string, int> cases[] = {
      {in + " " + out + " pcm-to-float --then peak 100", 0},
      {in + " " + out, 0},
      {in + " " + out + " pcm-to-float --then loudness 0 1", 1},  // the stage refuses level 0
      {Utf8(dir.File(u"missing.wav")) + " " + out + " pcm-to-float", 1},
      {in + " " + out + " no-such-stage", 2},
      {in + " " + out + " --then peak 100", 2},
      {in + " " + out + " peak", 2},
      {in, 2},
      {in + " " + in + " pcm-to-float", 2},  // OUT would destroy IN
      // resample and float-to-output run as one stage, with the same answers.
      {in + " " + out + " pcm-to-float --then resample 48000 --then float-to-output 20 24", 1},
      {in + " " + out + " pcm-to-float --then resample 48000 --then float-to-output 24", 2},
      {in + " " + out + " pcm-to-float --then resample 4800x --then float-to-output 24 24", 2},
  };
  for (const auto& [args, status] : cases) EXPECT_EQ(RunStage(args), status) << args;
  EXPECT_EQ(ReadFileBytes(dir.File(u"in.wav")), MakeWav({}, PackLe({1, 2, 3, 4}, 16)));
}

}  // namespace
}  // namespace lumaro::testing
