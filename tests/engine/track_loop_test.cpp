#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/engine/engine_fixture.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAreArray;

struct LoopCase {
  const char* name;
  int tracks;
  std::deque<FeedAction> feed;
  std::vector<std::string> played;  // "play N" entries, in order
  friend void PrintTo(const LoopCase& c, std::ostream* os) { *os << c.name; }
};

class TrackLoopTest : public EngineTest, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(TrackLoopTest, FollowsTheCommands) {
  const LoopCase& c = GetParam();
  std::vector<std::u16string> paths;
  for (int i = 0; i < c.tracks; ++i) paths.push_back(u"/m/" + std::u16string(1, u'a' + i));
  feed_ = c.feed;
  EXPECT_EQ(Play(paths), kOk);
  std::vector<std::string> played;
  for (const auto& entry : Log()) {
    if (entry.starts_with("play ")) played.push_back(entry);
  }
  EXPECT_THAT(played, ElementsAreArray(c.played));
  EXPECT_EQ(window_.Text(2003), u"");
}

constexpr std::uint32_t kEnded = context::kCommandTrackEnded;
constexpr std::uint32_t kJump = context::kCommandJump;

INSTANTIATE_TEST_SUITE_P(
    Table, TrackLoopTest,
    ::testing::Values(
        LoopCase{"ended_advances_and_wraps",
                 3,
                 {{kEnded}, {kEnded}, {kEnded}},
                 {"play 0", "play 1", "play 2", "play 0"}},
        LoopCase{"jump_goes_to_the_requested_track",
                 4,
                 {{kJump, 2}, {kJump, 0}},
                 {"play 0", "play 2", "play 0"}},
        LoopCase{"jump_past_the_end_stops", 3, {{kJump, 3}}, {"play 0"}},
        LoopCase{"jump_then_ended_continues_after_it",
                 3,
                 {{kJump, 1}, {kEnded}},
                 {"play 0", "play 1", "play 2"}},
        LoopCase{"single_track_repeats", 1, {{kEnded}, {kEnded}}, {"play 0", "play 0", "play 0"}},
        LoopCase{"unknown_command_stops", 2, {{7}}, {"play 0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, CurrentTrackFollowsTheTrackIndex) {
  feed_ = {{kEnded}, {kJump, 0}};
  std::vector<std::uint32_t> seen;
  onFeed_ = [&](context::PlayRequest& r) {
    seen.push_back(app_.CurrentTrack.Load());
    EXPECT_EQ(r.TrackIndex, app_.CurrentTrack.Load());
    EXPECT_EQ(app_.PlayCommand.Load(), context::kCommandNone);  // every track starts with 0
  };
  EXPECT_EQ(Play({u"/m/a", u"/m/b"}), kOk);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{0, 1, 0}));
}

TEST_F(EngineTest, AFailingTrackEndsTheWholeList) {
  feed_ = {{kEnded}, {kEnded, 0, u"DEVICE ERROR: Start failed"}};
  EXPECT_NE(Play({u"/m/a", u"/m/b", u"/m/c"}), kOk);
  EXPECT_EQ(window_.Text(2003), u"DEVICE ERROR: Start failed");
  EXPECT_EQ(window_.Text(2000), u"/m/b");
}

}  // namespace
}  // namespace lumaro::testing
