#include "platform/headless/headless_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace lumaro::platform::ui {
namespace {

using ::testing::ElementsAre;

TEST(HeadlessDialogTest, RecordsEveryTextInOrder) {
  HeadlessDialog dialog;
  dialog.SetText(2003, u"Preparing ...");
  dialog.SetPathText(2003, u"/m/a.wav");
  dialog.SetText(2003, u"");
  EXPECT_THAT(dialog.TextHistory(2003), ElementsAre(u"Preparing ...", u"/m/a.wav", u""));
  EXPECT_EQ(dialog.Text(2003), u"");
  EXPECT_TRUE(dialog.TextHistory(2000).empty());
}

TEST(HeadlessDialogTest, ComboAndScrollBarKeepTheirState) {
  HeadlessDialog dialog;
  EXPECT_EQ(dialog.ComboAdd(2005, u"a.wav"), 0);
  EXPECT_EQ(dialog.ComboAdd(2005, u"b.wav"), 1);
  EXPECT_TRUE(dialog.ComboSelect(2005, 1));
  EXPECT_FALSE(dialog.ComboSelect(2005, 2));
  EXPECT_EQ(dialog.ComboSelection(2005), -1);
  EXPECT_EQ(dialog.ComboItem(2005, 1), u"b.wav");
  dialog.ComboReset(2005);
  EXPECT_EQ(dialog.ComboCount(2005), 0);

  dialog.ScrollSetRange(2031, 0, 100, false);
  dialog.ScrollSetPosition(2031, 150, true);
  EXPECT_EQ(dialog.ScrollPosition(2031), 100);
  dialog.DragThumb(2031, 42);
  int track = 0;
  ASSERT_TRUE(dialog.ScrollTrackPosition(2031, &track));
  EXPECT_EQ(track, 42);
}

// The engine writes while the window reads: reads run during the writes (ThreadSanitizer sees
// any unguarded state), and no write is lost.
TEST(HeadlessDialogTest, TakesWritesFromOneThreadWhileAnotherReads) {
  HeadlessDialog dialog;
  std::atomic<int> notified{0};
  dialog.SetObserver([&](ControlId) { ++notified; });  // runs on the writing thread
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 1000; ++i) dialog.SetText(2003, i % 2 ? u"x" : u"y");
    done = true;
  });
  std::size_t seen = 0;
  while (!done.load())
    seen = std::max(seen, dialog.TextHistory(2003).size() + dialog.Text(2003).size());
  writer.join();
  EXPECT_LE(seen, 1001U);
  EXPECT_EQ(dialog.TextHistory(2003).size(), 1000U);
  EXPECT_EQ(notified.load(), 1000);
}

}  // namespace
}  // namespace lumaro::platform::ui
