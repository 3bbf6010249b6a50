#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/audio_slot.h"
#include "tools/stages.h"

namespace lumaro::tools {
namespace {

using lumaro::testing::AudioSlot;
using lumaro::testing::Sine;

// Runs the rate stage named by the first word with the remaining words as its arguments.
StageStatus RunStage(dsp::BufferSlot& slot, const std::vector<std::string_view>& words) {
  for (const StageSpec& spec : RateStages()) {
    if (spec.name == words.front()) {
      platform::StopWord stop;
      return spec.run(slot, std::span(words).subspan(1), stop);
    }
  }
  ADD_FAILURE() << "no stage " << words.front();
  return StageStatus::kBadArguments;
}

TEST(RateStagesTest, ChainFromTrackToDeviceBytes) {
  struct Step {
    std::vector<std::string_view> words;
    std::uint32_t rate;  // of the record afterwards
  };
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
    for (const Step& step : *chain) {
      ASSERT_EQ(RunStage(slot, step.words), StageStatus::kOk) << step.words.front();
      std::uint32_t rate = 0;
      if (auto* a = slot.Get<dsp::AudioBuffer>()) rate = a->sampleRate;
      if (auto* p = slot.Get<dsp::PcmBuffer>()) rate = p->sampleRate;
      if (auto* d = slot.Get<dsp::DsdBuffer>()) rate = d->dsdRate;
      EXPECT_EQ(rate, step.rate) << step.words.front();
    }
  }
}

TEST(RateStagesTest, UsageErrorsAndRefusals) {
  struct Case {
    std::vector<std::string_view> words;
    StageStatus status;
  } const cases[] = {
      {{"resample"}, StageStatus::kBadArguments},
      {{"resample", "48k"}, StageStatus::kBadArguments},
      {{"resample", "-48000"}, StageStatus::kBadArguments},
      {{"resample", "48000", "1"}, StageStatus::kBadArguments},
      {{"clip-guard", "1"}, StageStatus::kBadArguments},
      {{"float-to-output", "24"}, StageStatus::kBadArguments},
      {{"float-to-output", "32", "32", "double"}, StageStatus::kBadArguments},
      {{"resample", "1411201"}, StageStatus::kFailed},
      {{"resample", "99999999999999999999999"}, StageStatus::kFailed},
      {{"decimate", "3"}, StageStatus::kFailed},
      {{"to-one-bit", "2822401"}, StageStatus::kFailed},
      {{"pack-dop", "24"}, StageStatus::kFailed},  // an AudioBuffer is no 1-bit data
      {{"swap-be", "16"}, StageStatus::kFailed},
      {{"reverse-dsd"}, StageStatus::kFailed},
      {{"float-to-output", "32", "32", "float"}, StageStatus::kOk},
  };
  for (const auto& c : cases) {
    dsp::BufferSlot slot = AudioSlot(44100, 100, Sine(440, 44100, 0.5));
    EXPECT_EQ(RunStage(slot, c.words), c.status) << c.words.front() << " " << c.words.size();
  }
}

}  // namespace
}  // namespace lumaro::tools
