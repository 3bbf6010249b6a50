#include <gtest/gtest.h>

#include <cmath>
#include <string_view>
#include <vector>

#include "tests/support/audio_slot.h"
#include "tools/stages.h"

namespace lumaro::tools {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::RealSamples;

const StageSpec* Find(std::string_view name) {
  for (const StageSpec& spec : AssistStages()) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

TEST(AssistStagesTest, ArgumentsReachTheStagesAsTheDialogsStoreThem) {
  struct Case {
    std::string_view stage;
    std::vector<std::string_view> args;
    StageStatus status;
    double firstSample;  // left sample of frame 0 afterwards (on success)
  } const cases[] = {
      {"peak", {"50"}, StageStatus::kOk, 0.25},  // the track's peak (-1.0) becomes 0.5
      {"peak", {"0"}, StageStatus::kOk, 0.0},
      {"peak", {}, StageStatus::kBadArguments, 0},
      {"peak", {"50", "1"}, StageStatus::kBadArguments, 0},
      {"peak", {"-5"}, StageStatus::kBadArguments, 0},
      {"peak", {"4294967296"}, StageStatus::kBadArguments, 0},  // beyond a dialog's 32 bits
      {"loudness", {"100", "0"}, StageStatus::kOk, 0.5 * 0.1 / 1.125},
      {"loudness", {"801", "0"}, StageStatus::kFailed, 0},  // parses; the stage refuses it
      {"loudness", {"0", "1"}, StageStatus::kFailed, 0},
      {"loudness", {"100"}, StageStatus::kBadArguments, 0},
      {"limiter", {}, StageStatus::kOk, 0.5},
      {"limiter", {"1"}, StageStatus::kBadArguments, 0},
      {"compress", {"80", "0", "50", "800", "100", "50", "1"}, StageStatus::kOk, NAN},
      {"compress", {"9", "0", "50", "800", "100", "50", "1"}, StageStatus::kFailed, 0},
      {"compress", {"80", "0", "50", "800", "4001", "50", "1"}, StageStatus::kFailed, 0},
      {"compress", {"80", "0", "50", "800", "100", "101", "0"}, StageStatus::kFailed, 0},
      {"compress", {"80", "0", "50", "800", "100", "50"}, StageStatus::kBadArguments, 0},
      {"compress", {"80", "0", "50", "800", "100", "50", "x"}, StageStatus::kBadArguments, 0},
  };
  for (const auto& c : cases) {
    const StageSpec* spec = Find(c.stage);
    ASSERT_NE(spec, nullptr) << c.stage;
    std::vector<double> track;
    for (int i = 0; i < 8000; ++i) track.insert(track.end(), {0.5, i % 2 == 0 ? 0.25 : -1.0});
    dsp::BufferSlot slot = AudioSlot(track, 8000);
    const StageStatus status = spec->run(slot, c.args, platform::StopWord{});
    const std::string what = std::string(c.stage) + " " + std::to_string(c.args.size());
    EXPECT_EQ(status, c.status) << what << (c.args.empty() ? "" : c.args[0]);
    if (status == StageStatus::kFailed) {
      EXPECT_TRUE(slot.Empty()) << what;
    }
    if (status == StageStatus::kOk && !std::isnan(c.firstSample)) {
      EXPECT_NEAR(RealSamples(slot)[0], c.firstSample, 1e-9) << what;
    }
  }
}

TEST(ParseUnsignedTest, StrictDecimal) {
  struct Case {
    std::string_view text;
    bool ok;
    std::uint64_t value;
  } const cases[] = {
      {"0", true, 0},
      {"0800", true, 800},
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", false, 0},
      {"", false, 0},
      {"+1", false, 0},
      {" 1", false, 0},
      {"1.5", false, 0},
  };
  for (const auto& c : cases) {
    std::uint64_t value = 7;
    EXPECT_EQ(ParseUnsigned(c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace lumaro::tools
