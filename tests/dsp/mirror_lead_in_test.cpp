#include "dsp/mirror_lead_in.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace lumaro::dsp {
namespace {

using ::testing::ElementsAreArray;

// Left samples of every frame, lead-ins included, after mirroring frames 1, 2, 3 … N.
std::vector<double> Mirrored(std::uint64_t frames, std::uint64_t leadIn) {
  AudioBufferPtr b;
  EXPECT_EQ(NewAudioBuffer(b, 44100, frames, leadIn), kOk);
  for (std::uint64_t i = 0; i < frames; ++i) {
    b->Frame(static_cast<std::int64_t>(i))[0] = static_cast<double>(i + 1);
    b->Frame(static_cast<std::int64_t>(i))[1] = -static_cast<double>(i + 1);
  }
  MirrorLeadIn(*b);
  std::vector<double> left;
  for (std::uint64_t i = 0; i < frames + 2 * leadIn; ++i) {
    EXPECT_EQ(b->Samples()[2 * i + 1], -b->Samples()[2 * i]);
    left.push_back(b->Samples()[2 * i]);
  }
  return left;
}

// A lead-in longer than the track keeps reflecting.
TEST(MirrorLeadInTest, MirrorsAboutBothEnds) {
  EXPECT_THAT(Mirrored(5, 2), ElementsAreArray({2, 1, 1, 2, 3, 4, 5, 5, 4}));
  EXPECT_THAT(Mirrored(3, 0), ElementsAreArray({1, 2, 3}));
  EXPECT_THAT(Mirrored(2, 5), ElementsAreArray({1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2}));
  EXPECT_THAT(Mirrored(1, 3), ElementsAreArray({1, 1, 1, 1, 1, 1, 1}));
}

}  // namespace
}  // namespace lumaro::dsp
