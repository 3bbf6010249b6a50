#include "app/scan_music_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/read_playlist.h"
#include "app/scan_dialog.h"
#include "platform/headless/headless_dialog.h"
#include "platform/os.h"
#include "platform/text.h"
#include "resources/scan_dialog_template.h"
#include "resources/status_texts.h"
#include "tests/support/string_list.h"
#include "tests/support/temp_tree.h"

namespace lumaro::app {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::TempTree;
using testing::Utf8;
namespace res = resources;

std::vector<std::u16string> Words(std::u16string_view text) {
  context::StringList words;
  EXPECT_EQ(SplitExtensionWords(text, words), kOk);
  return testing::Entries(&words);
}

// The play lists a scan wrote: file name -> the paths of its lines.
std::map<std::u16string, std::vector<std::u16string>> Written(const std::u16string& dir) {
  std::map<std::u16string, std::vector<std::u16string>> out;
  std::vector<platform::DirectoryEntry> entries;
  EXPECT_TRUE(platform::ListDirectory(dir, &entries));
  for (const auto& entry : entries) {
    const std::string bytes = TempTree::Read(dir + u"/" + entry.name);
    EXPECT_TRUE(bytes.empty() || bytes.ends_with("\r\n")) << "every line ends with CR LF";
    std::vector<std::u16string>& lines = out[entry.name];
    for (std::size_t at = 0, end; (end = bytes.find("\r\n", at)) != bytes.npos; at = end + 2) {
      lines.push_back(platform::Utf8ToUtf16(bytes.substr(at, end - at)));
    }
  }
  return out;
}

// "YYYYMMDD_hhmmss_mmm.m3u8": digits where the pattern has '9'.
bool IsTimeName(std::u16string_view name) {
  constexpr std::u16string_view kPattern = u"99999999_999999_999.m3u8";
  return std::equal(
      name.begin(), name.end(), kPattern.begin(), kPattern.end(),
      [](char16_t c, char16_t p) { return p == u'9' ? c >= u'0' && c <= u'9' : c == p; });
}

class ScanTest : public ::testing::Test {
 protected:
  ScanTest() {
    in_ = tree_.Dir(u"in");
    out_ = tree_.Dir(u"out");
  }
  Result Scan(const std::vector<std::u16string>& paths,
              std::u16string_view words = context::kDefaultExtensions) {
    return ScanMusicFiles(app_, paths, words, out_, &dialog_);
  }
  std::u16string Message() const { return dialog_.Text(res::kIdScanMessage); }

  TempTree tree_;
  std::u16string in_, out_;
  context::AppContext app_;
  platform::ui::HeadlessDialog dialog_;
};

// Music/Artist/Album with music on every level: one play list per level, named with the path
// above it or not, depth first, each sorted ignoring case; other files are left out.
TEST_F(ScanTest, WritesOnePlaylistPerDirectoryNamedWithOrWithoutThePath) {
  const std::u16string music = tree_.Dir(u"in/Music");
  tree_.Dir(u"in/Music/Artist");
  tree_.Dir(u"in/Music/Artist/Album");
  const std::u16string m1 = tree_.File(u"in/Music/intro.mp3");
  tree_.File(u"in/Music/cover.jpg");
  const std::u16string a1 = tree_.File(u"in/Music/Artist/b.FLAC");
  const std::u16string a2 = tree_.File(u"in/Music/Artist/A.wav");
  const std::u16string t1 = tree_.File(u"in/Music/Artist/Album/02 two.dsf");
  const std::u16string t2 = tree_.File(u"in/Music/Artist/Album/01 One.dff");
  const std::u16string t3 = tree_.File(u"in/Music/Artist/Album/10 Ten.m4a");

  for (const auto& [addPath, artist, album] :
       {std::tuple{1u, u"Music Artist.m3u8", u"Music Artist Album.m3u8"},
        std::tuple{0u, u"Artist.m3u8", u"Album.m3u8"}}) {
    SCOPED_TRACE(addPath);
    for (const auto& [name, lines] : Written(out_)) platform::DeleteFile(out_ + u"/" + name);
    app_.ScanAddPath = addPath;
    ASSERT_EQ(Scan({music}), kOk);
    EXPECT_EQ(Message(), res::kScanCompleted);
    const auto written = Written(out_);
    ASSERT_EQ(written.size(), 3U);
    EXPECT_THAT(written.at(u"Music.m3u8"), ElementsAre(m1));
    EXPECT_THAT(written.at(artist), ElementsAre(a2, a1));
    EXPECT_THAT(written.at(album), ElementsAre(t2, t1, t3));
  }
}

// Dropped files must match a word exactly; inside a directory letter case does not matter; with
// no words every file is music, also one without an extension.
TEST_F(ScanTest, LooseFilesMatchExactlyAndGoToATimeNamedList) {
  const std::u16string upper = tree_.File(u"in/LOUD.MP3");
  const std::u16string lower = tree_.File(u"in/quiet.mp3");
  const std::u16string other = tree_.File(u"in/Z.txt");
  const std::u16string bare = tree_.File(u"in/readme");
  ASSERT_EQ(Scan({upper, other, tree_.Path(u"in/missing.mp3")}), kOk);
  EXPECT_THAT(Written(out_), IsEmpty());

  ASSERT_EQ(Scan({upper, lower}), kOk);
  auto written = Written(out_);
  ASSERT_EQ(written.size(), 1U);
  EXPECT_TRUE(IsTimeName(written.begin()->first)) << Utf8(written.begin()->first);
  EXPECT_THAT(written.begin()->second, ElementsAre(lower));

  platform::DeleteFile(out_ + u"/" + written.begin()->first);
  ASSERT_EQ(Scan({in_}), kOk);
  written = Written(out_);
  ASSERT_EQ(written.size(), 1U);
  EXPECT_THAT(written.at(u"in.m3u8"), ElementsAre(upper, lower));
  ASSERT_EQ(Scan({in_}, u" ; "), kOk);
  EXPECT_THAT(Written(out_).at(u"in.m3u8"), ElementsAre(upper, lower, bare, other));
}

TEST_F(ScanTest, ExtensionWordsAreRunsOfLettersAndDigits) {
  EXPECT_THAT(Words(u"flac, wav; MP3"), ElementsAre(u"flac", u"wav", u"MP3"));
  EXPECT_THAT(Words(u" .m4a\r\n\tm2,,opus."), ElementsAre(u"m4a", u"m2", u"opus"));
  EXPECT_THAT(Words(u"caf\u00E9\u3001\u97F3\u697D"), ElementsAre(u"caf\u00E9", u"\u97F3\u697D"));
  EXPECT_THAT(Words(u" ,;. \r\n"), IsEmpty());
  EXPECT_THAT(Words(context::kDefaultExtensions), ::testing::SizeIs(29));
}

// A root directory's own files get a time-named list and add nothing to the names below it.
TEST_F(ScanTest, PlaylistNamesAndPrefixes) {
  const platform::LocalTime t{2024, 3, 7, 9, 5, 1, 42};
  const std::u16string long259(250, u'x');
  // Prefix, directory; its play list, and the prefix of its children with the path added.
  using Name = std::optional<std::u16string>;
  const std::tuple<std::u16string, std::u16string, Name, Name> cases[] = {
      {u"", u"/m/Music", u"/o/Music.m3u8", u"Music"},
      {u"Music", u"/m/Music/Artist", u"/o/Music Artist.m3u8", u"Music Artist"},
      {u"", u"/", u"/o/20240307_090501_042.m3u8", u""},
      {u"Music", u"/", u"/o/20240307_090501_042.m3u8", u"Music"},
      {u"0123456789", u"/m/" + long259, std::nullopt, std::nullopt},
  };
  for (const auto& [prefix, directory, playlist, childPrefix] : cases) {
    SCOPED_TRACE(Utf8(directory));
    // The output directory as given, then the list's name after this system's separator.
    const Name native =
        playlist ? Name(u"/o" + testing::NativeSeparators(playlist->substr(2))) : std::nullopt;
    EXPECT_EQ(DirectoryPlaylistPath(u"/o", prefix, directory, t), native);
    EXPECT_EQ(SubdirectoryPrefix(prefix, directory, true), childPrefix);
    EXPECT_EQ(SubdirectoryPrefix(prefix, directory, false), u"");
  }
  EXPECT_EQ(TimePlaylistPath(std::u16string(233, u'o'), t), std::nullopt);
  EXPECT_NE(TimePlaylistPath(std::u16string(232, u'o'), t), std::nullopt);
}

// Lines are the UTF-8 paths ended by CR LF, without a byte-order mark, and the reader gives back
// exactly the scanned paths.
TEST_F(ScanTest, PlaylistsReadBackAsTheScannedPaths) {
  tree_.Dir(u"in/Caf\u00E9");
  const std::u16string f1 = tree_.File(u"in/Caf\u00E9/b \u97F3.wav");
  const std::u16string f2 = tree_.File(u"in/Caf\u00E9/a.wav");
  ASSERT_EQ(Scan({tree_.Path(u"in/Caf\u00E9")}), kOk);
  const std::u16string list = out_ + u"/Caf\u00E9.m3u8";
  EXPECT_EQ(TempTree::Read(list), Utf8(f2) + "\r\n" + Utf8(f1) + "\r\n");
  platform::StopWord stop{0};
  const auto read = ReadPlaylist(list, stop);
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(read->Count(), 2);
  EXPECT_EQ(*read->Entry(0), f2);
  EXPECT_EQ(*read->Entry(1), f1);
}

#ifndef _WIN32
// A play list that cannot be written completely is deleted and the scan ends with an error;
// the ones written before it stay.
TEST_F(ScanTest, AFailedWriteLeavesNoPartialFile) {
  tree_.Dir(u"in/A");
  tree_.Dir(u"in/A/B");
  tree_.File(u"in/A/one.wav");
  tree_.File(u"in/A/B/two.wav");
  for (const bool directoryInTheWay : {false, true}) {  // else the device is full
    SCOPED_TRACE(directoryInTheWay);
    std::system(("rm -rf '" + Utf8(out_) + "'/*").c_str());
    const std::string blocked = Utf8(out_ + u"/A B.m3u8");
    if (directoryInTheWay) {
      tree_.Dir(u"out/A B.m3u8");
    } else {
      ASSERT_EQ(::symlink("/dev/full", blocked.c_str()), 0);
    }
    EXPECT_NE(Scan({tree_.Path(u"in/A")}), kOk);
    EXPECT_EQ(Message(), res::kScanAbortedByError);
    // What stood in the play list's way is left as it was, and no partial list stays.
    EXPECT_EQ(std::filesystem::is_symlink(blocked), !directoryInTheWay);
    EXPECT_FALSE(platform::PathFileExists(out_ + u"/A B.m3u~"));
    EXPECT_NE(TempTree::Read(out_ + u"/A.m3u8"), "");
  }
}
#endif  // a full device (/dev/full) and the shell's rm are POSIX's

// The stop flag ends the scan before the next entry: "Terminated", nothing written.
TEST_F(ScanTest, AStopEndsTheScanAsTerminated) {
  tree_.File(u"in/a.wav");
  dialog_.SetObserver([this](platform::ui::ControlId id) {
    if (id == res::kIdScanMessage && dialog_.Text(id) == res::kScanProcessing) {
      app_.PlayCommand = context::kCommandStop;
    }
  });
  EXPECT_EQ(Scan({in_}), kScanStopped);
  EXPECT_EQ(Message(), res::kScanTerminated);
  EXPECT_THAT(Written(out_), IsEmpty());
  EXPECT_TRUE(dialog_.IsVisible(res::kIdScanReset));
  EXPECT_FALSE(dialog_.IsVisible(res::kIdScanStop));
}

class ScanDialogTest : public ScanTest {
 protected:
  ScanDialogTest() : behaviour_(app_, out_) { dialog_.Attach(&behaviour_); }
  void Send(const platform::ui::Message& m) { dialog_.Send(m); }
  ScanDialog behaviour_;
};

TEST_F(ScanDialogTest, ShowsAndKeepsTheToolsValues) {
  Send(platform::ui::DropFiles{{in_}});  // before initialisation drops are not taken
  behaviour_.WaitForScans();
  EXPECT_EQ(Message(), u"");

  Send(platform::ui::InitDialog{});
  EXPECT_EQ(dialog_.Caption(), res::kScanCaption);
  EXPECT_EQ(dialog_.Text(res::kIdScanExtensions), context::kDefaultExtensions);
  EXPECT_TRUE(dialog_.IsChecked(res::kIdScanAddPath));
  EXPECT_FALSE(dialog_.IsVisible(res::kIdScanStop));
  EXPECT_TRUE(dialog_.AcceptsDrops());

  dialog_.SetCheck(res::kIdScanAddPath, false);  // the user clears the check box
  Send(platform::ui::Command{res::kIdScanAddPath, 0});
  EXPECT_EQ(app_.ScanAddPath, 0U);
  dialog_.SetText(res::kIdScanExtensions, u"wav");
  Send(platform::ui::Command{res::kIdScanReset, 0});
  EXPECT_EQ(app_.ScanAddPath, 1U);
  EXPECT_EQ(dialog_.Text(res::kIdScanExtensions), context::kDefaultExtensions);
  EXPECT_EQ(Message(), res::kScanPrompt);

  Send(platform::ui::Command{res::kIdScanStop, 0});
  EXPECT_EQ(app_.PlayCommand, context::kCommandStop);

  dialog_.SetText(res::kIdScanExtensions, u"flac dsf");
  Send(platform::ui::Close{});
  EXPECT_TRUE(dialog_.Ended());
  ASSERT_NE(app_.ScanExtensions, nullptr);
  EXPECT_EQ(*app_.ScanExtensions, u"flac dsf");
  Send(platform::ui::DropFiles{{in_}});  // nothing after the end
  EXPECT_EQ(Message(), res::kScanPrompt);
}

// A drop scans with the edit text of that moment and returns the dialog to its idle look.
TEST_F(ScanDialogTest, ADropScansWithTheEditText) {
  tree_.File(u"in/a.wav");
  const std::u16string flac = tree_.File(u"in/b.flac");
  app_.PlayCommand = context::kCommandStop;  // left over from the stop that opened the tool
  Send(platform::ui::InitDialog{});
  dialog_.SetText(res::kIdScanExtensions, u"FLAC");
  Send(platform::ui::DropFiles{{in_}});
  behaviour_.WaitForScans();
  EXPECT_EQ(Message(), res::kScanCompleted);
  EXPECT_THAT(dialog_.TextHistory(res::kIdScanMessage),
              ElementsAre(res::kScanProcessing, res::kScanCompleted));
  EXPECT_THAT(Written(out_).at(u"in.m3u8"), ElementsAre(flac));
  for (auto id : {res::kIdScanExtensions, res::kIdScanAddPath, res::kIdScanReset}) {
    EXPECT_TRUE(dialog_.IsEnabled(id)) << id;
  }
  EXPECT_FALSE(dialog_.IsEnabled(res::kIdScanStop));
}

}  // namespace
}  // namespace lumaro::app
