#include "tools/stages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/audio_slot.h"

namespace lumaro::tools {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::RealSamples;
using lumaro::testing::Sine;

const StageSpec* Find(std::string_view name) {
  for (const auto& stages : {AssistStages(), RateStages()}) {
    for (const StageSpec& spec : stages) {
      if (spec.name == name) return &spec;
    }
  }
  return nullptr;
}

TEST(StagesTest, ArgumentsReachTheStagesAsTheDialogsStoreThem) {
  // firstSample: the left sample of frame 0 afterwards (on success).
  const std::tuple<std::string_view, std::vector<std::string_view>, StageStatus, double> cases[] = {
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
      {"resample", {}, StageStatus::kBadArguments, 0},
      {"resample", {"48k"}, StageStatus::kBadArguments, 0},
      {"resample", {"-48000"}, StageStatus::kBadArguments, 0},
      {"resample", {"48000", "1"}, StageStatus::kBadArguments, 0},
      {"clip-guard", {"1"}, StageStatus::kBadArguments, 0},
      {"float-to-output", {"24"}, StageStatus::kBadArguments, 0},
      {"float-to-output", {"32", "32", "double"}, StageStatus::kBadArguments, 0},
      {"resample", {"1411201"}, StageStatus::kFailed, 0},
      {"resample", {"99999999999999999999999"}, StageStatus::kFailed, 0},
      {"decimate", {"3"}, StageStatus::kFailed, 0},
      {"to-one-bit", {"2822401"}, StageStatus::kFailed, 0},
      {"pack-dop", {"24"}, StageStatus::kFailed, 0},  // an AudioBuffer is no 1-bit data
      {"swap-be", {"16"}, StageStatus::kFailed, 0},
      {"reverse-dsd", {}, StageStatus::kFailed, 0},
      {"float-to-output", {"32", "32", "float"}, StageStatus::kOk, NAN},
  };
  for (const auto& [stage, args, expected, firstSample] : cases) {
    const StageSpec* spec = Find(stage);
    ASSERT_NE(spec, nullptr) << stage;
    std::vector<double> track;
    for (int i = 0; i < 8000; ++i) track.insert(track.end(), {0.5, i % 2 == 0 ? 0.25 : -1.0});
    dsp::BufferSlot slot = AudioSlot(track, 8000);
    const StageStatus status = spec->run(slot, args, platform::StopWord{});
    const std::string what = std::string(stage) + " " + std::to_string(args.size());
    EXPECT_EQ(status, expected) << what << (args.empty() ? "" : args[0]);
    // A failed stage leaves nothing; the byte-order stages refuse another kind without taking it.
    if (status == StageStatus::kFailed && stage != "swap-be" && stage != "reverse-dsd") {
      EXPECT_TRUE(slot.Empty()) << what;
    }
    if (status == StageStatus::kOk && !std::isnan(firstSample)) {
      EXPECT_NEAR(RealSamples(slot)[0], firstSample, 1e-9) << what;
    }
  }
}

TEST(StagesTest, ChainFromTrackToDeviceBytes) {
  using Step = std::pair<std::vector<std::string_view>, std::uint32_t>;  // words, rate afterwards
  const std::vector<Step> pcmChain = {{{"clip-guard"}, 44100},
                                      {{"resample", "96000"}, 96000},
                                      {{"decimate", "2"}, 48000},
                                      {{"interpolate", "88200"}, 88200},
                                      {{"float-to-output", "24", "32"}, 88200},
                                      {{"swap-be", "24"}, 88200}};
  const std::vector<Step> dsdChain = {{{"to-one-bit", "5644800"}, 5644800},
                                      {{"reverse-dsd"}, 5644800},
                                      {{"reverse-dsd"}, 5644800},
                                      {{"pack-dop", "32"}, 352800}};
  for (const auto* chain : {&pcmChain, &dsdChain}) {
    dsp::BufferSlot slot = AudioSlot(44100, 4410, Sine(440, 44100, 1.5));
    for (const auto& [words, expected] : *chain) {
      ASSERT_EQ(Find(words.front())->run(slot, std::span(words).subspan(1), platform::StopWord{}),
                StageStatus::kOk)
          << words.front();
      std::uint32_t rate = 0;
      if (auto* a = slot.Get<dsp::AudioBuffer>()) rate = a->sampleRate;
      if (auto* p = slot.Get<dsp::PcmBuffer>()) rate = p->sampleRate;
      if (auto* d = slot.Get<dsp::DsdBuffer>()) rate = d->dsdRate;
      EXPECT_EQ(rate, expected) << words.front();
    }
  }
}

TEST(ParseUnsignedTest, StrictDecimal) {
  const std::tuple<std::string_view, bool, std::uint64_t> cases[] = {
      {"0", true, 0},   {"0800", true, 800}, {"18446744073709551615", true, UINT64_MAX},
      {"", false, 0},   {"+1", false, 0},    {"18446744073709551616", false, 0},
      {" 1", false, 0}, {"1.5", false, 0},
  };
  for (const auto& [text, ok, expected] : cases) {
    std::uint64_t value = 7;
    EXPECT_EQ(ParseUnsigned(text, &value), ok) << text;
    if (ok) {
      EXPECT_EQ(value, expected) << text;
    }
  }
}

}  // namespace
}  // namespace lumaro::tools
