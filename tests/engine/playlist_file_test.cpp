// Dropped ".m3u8" files read by the player's own reader, through the whole step machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/player_steps.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/temp_tree.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAre;

class PlaylistFileTest : public EngineTest {
 protected:
  PlaylistFileTest() {
    steps_.readPlaylist = app::PlayerSteps().readPlaylist;
    tree_.Dir(u"m");
    a_ = tree_.File(u"m/a.wav");
    b_ = tree_.File(u"m/b.wav");
    onFeed_ = [this](context::PlayRequest& r) {
      for (std::int32_t i = 0; i < r.Tracks->Count(); ++i) seen_.push_back(*r.Tracks->Entry(i));
    };
  }
  TempTree tree_;
  std::u16string a_, b_;
  std::vector<std::u16string> seen_;
};

TEST_F(PlaylistFileTest, ADroppedPlaylistExpandsIntoItsTracksOrStopsAtAMissingOne) {
  const std::u16string list = tree_.File(u"m/list.m3u8", "#EXTM3U\r\nb.wav\r\n./a.wav\r\n");
  const std::u16string loose = tree_.File(u"x.wav");
  EXPECT_EQ(Play({loose, list}), kOk);
  EXPECT_THAT(seen_, ElementsAre(loose, b_, a_));
  EXPECT_EQ(Statuses().at(1), u"Play list reading ...");
  // A list with a missing entry stops the playback before anything is decoded.
  const std::size_t logged = Log().size();
  EXPECT_NE(Play({tree_.File(u"m/bad.m3u8", "a.wav\nnone.wav\n")}), kOk);
  EXPECT_EQ(Log().size(), logged);
  EXPECT_EQ(Statuses().back(), u"ERROR: play list read failed");
}

}  // namespace
}  // namespace lumaro::testing
