#include "platform/file_output/file_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "decode/byte_order.h"
#include "platform/text.h"
#include "tests/output/endpoint_test_fixture.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAre;
namespace fo = platform::file_output;

Bytes ReadAll(const std::u16string& path) { return ReadFileBytes(path).value_or(Bytes{}); }

std::uint32_t Le32(const Bytes& b, std::size_t at) { return decode::LoadLe<std::uint32_t>(&b[at]); }

class FileOutputTest : public EndpointTest {
 protected:
  std::u16string Path(const char* name) const { return dir_.File(platform::Utf8ToUtf16(name)); }
  TempDir dir_;
};

TEST_F(FileOutputTest, RecordsWhatFollowsTheLeadInWithACompleteHeader) {
  fo::FileOutputSystem system({.path = Path("out.wav"), .paced = false});
  services_.endpoints = &system;
  outputFrames_ = 20000;
  EXPECT_EQ(Play({u"/m/a.wav"}, u"W: File output", u"48000"), kOk);
  ASSERT_THAT(system.WrittenFiles(), ElementsAre(Path("out.wav")));
  const Bytes file = ReadAll(Path("out.wav"));
  // 16-byte PCM format chunk; data = the track then its padded tail and one silent buffer.
  ASSERT_GE(file.size(), 44U);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(Le32(file, 4), file.size() - 8);
  EXPECT_EQ(Le32(file, 16), 16U);
  EXPECT_EQ(file[20], 1);  // integer PCM
  EXPECT_EQ(Le32(file, 24), 48000U);
  EXPECT_EQ(file[34], 32);  // bits
  const std::uint32_t dataBytes = Le32(file, 40);
  EXPECT_EQ(dataBytes, 4U * 9600 * 8);  // 200 ms buffers of 9600 frames
  EXPECT_TRUE(BytesAt(file, 44, PatternBytes(20000 * 8)));
  EXPECT_TRUE(BytesAt(file, 44 + 20000 * 8, Bytes(file.size() - 44 - 20000 * 8, 0)));
}

TEST_F(FileOutputTest, PacedByItsClockItRecordsTheSame) {
  FakeClock pace;  // periods pass at once, through the pacing thread
  fo::FileOutputSystem system({.path = Path("paced.wav"), .paced = true, .clock = &pace});
  services_.endpoints = &system;
  services_.clock = &platform::SystemClock();  // the player really waits for the device
  outputFrames_ = 10000;
  EXPECT_EQ(Play({u"/m/a.wav"}, u"W: File output", u"44100"), kOk);
  const Bytes file = ReadAll(Path("paced.wav"));
  EXPECT_TRUE(BytesAt(file, 44, PatternBytes(10000 * 8)));
  EXPECT_GT(pace.NowMicroseconds(), 3'000'000U);  // the lead-in alone is 3 s of periods
}

TEST_F(FileOutputTest, EveryInitialisationGetsItsOwnNumberedFile) {
  fo::FileOutputSystem system({.path = Path("list.wav"), .paced = false});
  services_.endpoints = &system;
  EXPECT_EQ(Play({u"/m/a.wav", u"/m/b.wav", u"/m/c.wav"}, u"W: File output", u"Auto"), kOk);
  EXPECT_THAT(system.WrittenFiles(),
              ElementsAre(Path("list.wav"), Path("list-2.wav"), Path("list-3.wav")));
  EXPECT_EQ(fo::NumberedPath(u"/x/noext", 2), u"/x/noext-2");
}

TEST_F(FileOutputTest, TakesTheLadderInExclusiveModeAndFloatWhenShared) {
  fo::FileOutputSystem system({.path = Path("f.wav"), .paced = false});
  namespace ep = platform::endpoint;
  std::unique_ptr<ep::Enumerator> enumerator;
  std::unique_ptr<ep::EndpointCollection> all;
  std::unique_ptr<ep::Endpoint> endpoint;
  std::unique_ptr<ep::AudioClient> client;
  ASSERT_EQ(system.CreateEnumerator(&enumerator), ep::kSOk);
  ASSERT_EQ(enumerator->EnumAudioEndpoints(&all), ep::kSOk);
  ASSERT_EQ(all->Item(0, &endpoint), ep::kSOk);
  ASSERT_EQ(endpoint->Activate(&client), ep::kSOk);
  using enum ep::ShareMode;
  using enum ep::SubFormat;
  struct Case {
    ep::ShareMode mode;
    ep::SubFormat format;
    std::uint32_t rate, valid, container;
    ep::HResult answer;
  } const cases[] = {
      {kExclusive, kPcm, 32000, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 44100, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 352800, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 705600, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 768000, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 22050, 16, 16, ep::kEFail},
      {kExclusive, kPcm, 44100, 16, 32, ep::kEFail},
      {kShared, kIeeeFloat, 8000, 32, 32, ep::kSOk},
      {kShared, kIeeeFloat, 705600, 32, 32, ep::kSFalse},
  };
  std::optional<ep::WaveFormat> closest;
  for (const Case& c : cases) {
    const auto answer = client->IsFormatSupported(
        c.mode, ep::MakeWaveFormat(c.format, c.rate, c.valid, c.container), &closest);
    EXPECT_EQ(answer == ep::kSOk, c.answer == ep::kSOk) << c.rate;
    EXPECT_EQ(answer == ep::kSFalse, c.answer == ep::kSFalse);
  }
  ASSERT_TRUE(closest.has_value());
  EXPECT_EQ(closest->samplesPerSec, 384000U);
}

}  // namespace
}  // namespace lumaro::testing
