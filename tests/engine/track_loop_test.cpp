#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/engine/engine_fixture.h"

namespace lumaro::testing {
namespace {

constexpr std::uint32_t kEnded = context::kCommandTrackEnded;
constexpr std::uint32_t kJump = context::kCommandJump;

// Each track starts with no command and as the current track; the feeding stub's commands
// choose the next one.
TEST_F(EngineTest, TheTrackLoopFollowsTheCommands) {
  struct Case {
    int tracks;
    std::deque<FeedAction> feed;
    std::vector<std::string> played;  // "play N" entries, in order
  } const cases[] = {
      {3, {{kEnded}, {kEnded}, {kEnded}}, {"play 0", "play 1", "play 2", "play 0"}},  // wraps
      {4, {{kJump, 2}, {kJump, 0}}, {"play 0", "play 2", "play 0"}},
      {3, {{kJump, 3}}, {"play 0"}},  // past the end: stops
      {3, {{kJump, 1}, {kEnded}}, {"play 0", "play 1", "play 2"}},
      {2, {{kEnded}, {kJump, 0}}, {"play 0", "play 1", "play 0"}},
      {1, {{kEnded}, {kEnded}}, {"play 0", "play 0", "play 0"}},  // a single track repeats
      {2, {{7}}, {"play 0"}},                                     // an unknown command stops
  };
  onFeed_ = [this](context::PlayRequest& r) {
    EXPECT_EQ(r.TrackIndex, app_.CurrentTrack.Load());
    EXPECT_EQ(app_.PlayCommand.Load(), context::kCommandNone);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.played));
    std::vector<std::u16string> paths;
    for (int i = 0; i < c.tracks; ++i) paths.push_back(u"/m/" + std::u16string(1, u'a' + i));
    feed_ = c.feed;
    const std::size_t before = Log().size();
    EXPECT_EQ(Play(paths), kOk);
    const auto log = Log();
    std::vector<std::string> played;
    for (std::size_t i = before; i < log.size(); ++i) {
      if (log[i].starts_with("play ")) played.push_back(log[i]);
    }
    EXPECT_EQ(played, c.played);
    EXPECT_EQ(window_.Text(2003), u"");
  }
}

}  // namespace
}  // namespace lumaro::testing
