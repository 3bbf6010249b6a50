#include "app/read_playlist.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <string>
#include <thread>

#include "platform/failure.h"
#include "platform/os.h"
#include "platform/scope_exit.h"
#include "platform/text.h"
#include "tests/support/string_list.h"
#include "tests/support/temp_tree.h"

namespace lumaro::app {
namespace {

using ::testing::ElementsAre;
using testing::TempTree;
using testing::Utf8;

class ReadPlaylistTest : public ::testing::Test {
 protected:
  ReadPlaylistTest() {
    tree_.Dir(u"lists");
    tree_.Dir(u"music");
    a_ = tree_.File(u"music/a.wav", "A");
    b_ = tree_.File(u"music/b.flac", "B");
  }
  std::unique_ptr<context::StringList> Read(std::string_view contents) {
    const std::u16string list = tree_.File(u"lists/list.m3u8", contents);
    return ReadPlaylist(list, stop_);
  }

  TempTree tree_;
  std::u16string a_, b_;
  platform::StopWord stop_{0};
};

// Every way of ending lines, blank lines and comment lines give the same two entries.
TEST_F(ReadPlaylistTest, LineEndsBlankLinesAndCommentsGiveTheSameList) {
  const std::string a = Utf8(a_), b = Utf8(b_);
  const std::string cases[] = {
      a + "\n" + b + "\n",
      a + "\r\n" + b + "\r\n",
      a + "\r" + b,
      a + std::string(1, '\0') + b + std::string(1, '\0'),
      "#EXTM3U\r\n#EXTINF:12,Title\r\n\r\n" + a + "\n\n\n" + b + "\r\n#end",
      "../music/a.wav\n../music/./b.flac\n",  // relative to the play list's directory
  };
  for (const std::string& contents : cases) {
    SCOPED_TRACE(contents);
    const auto list = Read(contents);
    ASSERT_NE(list, nullptr);
    EXPECT_THAT(testing::Entries(list.get()), ElementsAre(a_, b_));
  }
  const auto comments = Read("#EXTM3U\n#EXTINF:1,x\n\n");  // no entry: an empty list
  ASSERT_NE(comments, nullptr);
  EXPECT_EQ(comments->Count(), 0);
}

// A relative entry climbs to a sibling directory and is stored canonical; a directory entry is
// taken like a file; bad UTF-8 becomes the replacement character of the file's real name.
TEST_F(ReadPlaylistTest, ResolvesRelativeEntriesDirectoriesAndBadBytes) {
  const std::u16string odd = tree_.File(u"music/caf\uFFFD.wav");
  const auto list = Read("../music/../music/a.wav\n../music\nmusic-less/../../music/caf\xFF.wav\n");
  ASSERT_NE(list, nullptr);
  EXPECT_THAT(testing::Entries(list.get()), ElementsAre(a_, tree_.Path(u"music"), odd));
}

// An entry that names an existing path from the current directory is taken as written.
TEST_F(ReadPlaylistTest, AnEntryExistingFromTheCurrentDirectoryWins) {
  tree_.Dir(u"cwd");
  tree_.File(u"cwd/a.wav");
  const std::u16string besideList = tree_.File(u"lists/c.wav");
  const std::string previous = Utf8(platform::CurrentDirectory());
  ASSERT_EQ(::chdir(Utf8(tree_.Path(u"cwd")).c_str()), 0);
  const auto list = Read("./a.wav\nc.wav\n");
  ASSERT_EQ(::chdir(previous.c_str()), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_THAT(testing::Entries(list.get()), ElementsAre(u"a.wav", besideList));
}

// One bad entry, a byte-order mark, a long entry, a list held open elsewhere or a stop before the
// first line fail the read.
TEST_F(ReadPlaylistTest, RefusesWholeLists) {
  const std::string a = Utf8(a_);
  const std::pair<const char*, std::string> cases[] = {
      {"missing entry", a + "\n" + Utf8(tree_.Path(u"music/none.wav")) + "\n"},
      {"byte-order mark", "\xEF\xBB\xBF" + a + "\n"},
      {"spaces before #", "  #EXTM3U\n" + a + "\n"},
      {"entry of 260 units", std::string(260, 'x') + "\n"},
  };
  for (const auto& [what, contents] : cases) {
    SCOPED_TRACE(what);
    std::unique_ptr<context::StringList> list;
    const std::u16string path = tree_.File(u"lists/list.m3u8", contents);
    EXPECT_NE(ReadPlaylistInto(path, stop_, &list), kOk);
    EXPECT_EQ(list, nullptr);
  }
  EXPECT_EQ(ReadPlaylist(tree_.Path(u"lists/none.m3u8"), stop_), nullptr);
  EXPECT_EQ(ReadPlaylist(tree_.Path(u"lists"), stop_), nullptr);  // a directory
  const std::u16string held = tree_.File(u"lists/held.m3u8", a + "\n");
  const auto holder = platform::File::Open(held, platform::OpenMode::kReadExclusive);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(ReadPlaylist(held, stop_), nullptr);
  stop_ = 1;
  EXPECT_EQ(Read(a + "\n"), nullptr);
}

// A refused list names the line that refused it, numbered as an editor numbers lines.
TEST_F(ReadPlaylistTest, ARefusedListNamesItsLineAsAnEditorCountsIt) {
  const std::string a = Utf8(a_);
  const std::pair<std::string, std::string> cases[] = {
      {a + "\n\n" + "gone.wav\n" + a, "line 3 \"gone.wav\""},
      {a + "\r\n#comment\r\ngone.wav\r\n", "line 3 \"gone.wav\""},
      {a + "\r\rgone.wav", "line 3 \"gone.wav\""},
      {"gone.wav", "line 1 \"gone.wav\""},
  };
  for (const auto& [contents, detail] : cases) {
    SCOPED_TRACE(contents);
    const platform::FailureRecording recording(&stop_);
    EXPECT_EQ(Read(contents), nullptr);
    const std::vector<platform::FailureNote> chain = platform::TakeFailureChain();
    ASSERT_FALSE(chain.empty());
    EXPECT_EQ(chain.front().name, "play-list entry missing");
    EXPECT_EQ(chain.front().detail, detail);
  }
}

#ifndef _WIN32
// A stop set while the list is being read ends it with what was read so far. The list comes
// through a pipe so that the stop lands between two known lines. Every wait is bounded: the write
// end is opened without blocking once the reader has its end, and closing it ends the read.
TEST_F(ReadPlaylistTest, AStopDuringTheReadKeepsTheEntriesSoFar) {
  const std::u16string fifo = tree_.Path(u"lists/live.m3u8");
  ASSERT_EQ(::mkfifo(Utf8(fifo).c_str(), 0644), 0);
  std::unique_ptr<context::StringList> list;
  Result result = 1;
  std::thread reader([&] { result = ReadPlaylistInto(fifo, stop_, &list); });
  int out = -1;
  const auto endRead = [&] {  // the reader sees the end of the list; then it is joined
    if (!reader.joinable()) return;
    if (out < 0) out = ::open(Utf8(fifo).c_str(), O_WRONLY | O_NONBLOCK);  // frees its open
    if (out >= 0) ::close(out);
    reader.join();
  };
  const platform::ScopeExit onEveryPath(endRead);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  const auto waiting = [&] { return std::chrono::steady_clock::now() < deadline; };
  while ((out = ::open(Utf8(fifo).c_str(), O_WRONLY | O_NONBLOCK)) < 0 && waiting()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GE(out, 0) << "the reader never opened the list";
  const std::string first = Utf8(a_) + "\n";
  const std::string rest = Utf8(b_) + "\n" + Utf8(b_) + "\n" + Utf8(b_) + "\n";
  ASSERT_EQ(::write(out, first.data(), first.size()), static_cast<ssize_t>(first.size()));
  // Once the reader has taken the first line out of the pipe it is past the check before the
  // first line.
  for (int pending = 1; pending > 0 && waiting();) {
    ASSERT_EQ(::ioctl(out, FIONREAD, &pending), 0);
    if (pending > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop_ = 1;
  ASSERT_EQ(::write(out, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
  endRead();
  ASSERT_EQ(result, kOk);
  ASSERT_NE(list, nullptr);
  // The stop is seen after the first line or, at the latest, after the line that follows it.
  ASSERT_GE(list->Count(), 1);
  ASSERT_LE(list->Count(), 2);
  EXPECT_EQ(*list->Entry(0), a_);
}
#endif  // a named pipe in the file system (a FIFO) is POSIX's

}  // namespace
}  // namespace lumaro::app
