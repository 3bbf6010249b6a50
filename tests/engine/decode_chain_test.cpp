// Real files through the engine's decode step: the player's own readers in place of the stub.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "decode/decode_track.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

using ::testing::Contains;

class DecodeChainEngineTest : public EngineTest {
 protected:
  DecodeChainEngineTest() {
    steps_.decode = decode::DecodeTrack;
    app_.Gapless = 1;
  }
  std::u16string Wav(std::u16string_view name, std::vector<std::int64_t> samples) {
    WavSpec spec;
    spec.channels = 1;
    spec.rate = 48000;
    const std::u16string path = dir_.File(name);
    EXPECT_TRUE(WriteFileBytes(path, MakeWav(spec, PackLe(samples, 16))));
    return path;
  }
  TempDir dir_;
};

TEST_F(DecodeChainEngineTest, GaplessWavTracksAreJoined) {
  const std::u16string a = Wav(u"a.wav", {16384, 16384, 16384});
  const std::u16string b = Wav(u"b.wav", {-8192, -8192});
  bool fed = false;
  onFeed_ = [&](context::PlayRequest& r) {
    fed = true;
    const dsp::AudioBuffer* joined = r.Buffer.Get<dsp::AudioBuffer>();
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(joined->frameCount, 5U);
    EXPECT_EQ(joined->Frame(2)[1], 0.5);
    EXPECT_EQ(joined->Frame(3)[0], -0.25);
    EXPECT_EQ(r.TrackTable[1].StartSeconds, 3.0 / 48000);
  };
  EXPECT_EQ(Play({a, b}), kOk);
  EXPECT_TRUE(fed);
}

TEST_F(DecodeChainEngineTest, GaplessMixtureOfWavAndDsdIsRefused) {
  const std::u16string a = Wav(u"a.wav", {1, 2, 3});
  const std::u16string b = dir_.File(u"b.dsf");
  ASSERT_TRUE(WriteFileBytes(b, MakeDsf({}, {Bytes(16, 0xCC), Bytes(16, 0xCC)})));
  EXPECT_NE(Play({a, b}), kOk);
  EXPECT_EQ(Statuses().back(), u"ERROR: not in the same format");
  EXPECT_THAT(Statuses(), Contains(u"Converting to 64bit float ..."));
}

}  // namespace
}  // namespace lumaro::testing
