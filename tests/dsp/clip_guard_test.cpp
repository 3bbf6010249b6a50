#include "dsp/clip_guard.h"

#include <gtest/gtest.h>

#include <vector>

#include "dsp/worker_count.h"

namespace lumaro::dsp {
namespace {

// An AudioBuffer of the given interleaved samples with a lead-in of 2 frames set to 7.0, so
// that a stage touching the lead-in is caught.
BufferSlot MakeSlot(const std::vector<double>& samples) {
  AudioBufferPtr buffer;
  EXPECT_EQ(NewAudioBuffer(buffer, 44100, samples.size() / 2, 2), kOk);
  for (std::int64_t i = -2; i < 0; ++i) buffer->Frame(i)[0] = buffer->Frame(i)[1] = 7.0;
  const std::int64_t frames = static_cast<std::int64_t>(samples.size() / 2);
  for (std::int64_t i = 0; i < 2; ++i)
    buffer->Frame(frames + i)[0] = buffer->Frame(frames + i)[1] = 7.0;
  std::copy(samples.begin(), samples.end(), buffer->Frame(0));
  BufferSlot slot;
  slot.Put(std::move(buffer));
  return slot;
}

std::vector<double> Real(BufferSlot& slot) {
  const AudioBuffer* b = slot.Get<AudioBuffer>();
  return std::vector<double>(b->Frame(0), b->Frame(static_cast<std::int64_t>(b->frameCount)));
}

class ClipGuardTest : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override { SetWorkerCountOverride(GetParam()); }
  void TearDown() override { SetWorkerCountOverride(0); }
  platform::StopWord stop_;
};

TEST_P(ClipGuardTest, Table) {
  struct Case {
    const char* name;
    std::vector<double> in;
    std::vector<double> out;
  } const cases[] = {
      {"peak exactly 1.0 is left alone",
       {0.5, -1.0, 0.25, 1.0, 0.0, -0.5},
       {0.5, -1.0, 0.25, 1.0, 0.0, -0.5}},
      {"peak 2.0 halves every sample",
       {0.5, -2.0, 1.0, 0.25, 2.0, -1.0},
       {0.25, -1.0, 0.5, 0.125, 1.0, -0.5}},
      {"negative peak counts by magnitude", {0.0, 0.0, -4.0, 1.0}, {0.0, 0.0, -1.0, 0.25}},
      {"silence stays silence", {0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}},
  };
  for (const auto& c : cases) {
    BufferSlot slot = MakeSlot(c.in);
    ASSERT_EQ(ClipGuard(slot, stop_), kOk) << c.name;
    EXPECT_EQ(Real(slot), c.out) << c.name;
    const AudioBuffer* b = slot.Get<AudioBuffer>();
    EXPECT_EQ(b->Frame(-1)[0], 7.0) << c.name;
    EXPECT_EQ(b->Frame(static_cast<std::int64_t>(b->frameCount))[1], 7.0) << c.name;
  }
}

TEST_P(ClipGuardTest, LongBufferWithThePeakInTheLastSlice) {
  std::vector<double> in(2 * 10007, 0.5);
  in.back() = -3.0;
  BufferSlot slot = MakeSlot(in);
  ASSERT_EQ(ClipGuard(slot, stop_), kOk);
  const std::vector<double> out = Real(slot);
  EXPECT_DOUBLE_EQ(out.front(), 0.5 / 3.0);
  EXPECT_DOUBLE_EQ(out.back(), -1.0);
}

INSTANTIATE_TEST_SUITE_P(Workers, ClipGuardTest, ::testing::Values(1U, 3U, 7U));

TEST(ClipGuardFailureTest, FailsButKeepsTheBufferInTheSlot) {
  platform::StopWord stop;
  BufferSlot empty;
  EXPECT_NE(ClipGuard(empty, stop), kOk);

  BufferSlot slot = MakeSlot({2.0, 2.0});
  stop = 1;
  EXPECT_NE(ClipGuard(slot, stop), kOk);
  EXPECT_NE(slot.Get<AudioBuffer>(), nullptr);

  PcmBufferPtr pcm;
  ASSERT_EQ(NewPcmBuffer(pcm, kPcmInteger, 2, 16, 44100, 4), kOk);
  BufferSlot wrongKind;
  wrongKind.Put(std::move(pcm));
  platform::StopWord go;
  EXPECT_NE(ClipGuard(wrongKind, go), kOk);
  EXPECT_NE(wrongKind.Get<PcmBuffer>(), nullptr);
}

}  // namespace
}  // namespace lumaro::dsp
