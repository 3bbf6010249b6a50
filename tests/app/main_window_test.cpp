#include "app/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "resources/dialog_templates.h"
#include "tests/app/shell_fixture.h"

namespace lumaro::app {
namespace {

namespace res = resources;
namespace ui = platform::ui;
using ::testing::ElementsAre;

// A main window whose drops are recorded instead of played.
struct WindowFixture : testing::ShellFixture {
  explicit WindowFixture(bool init = true) {
    EXPECT_EQ(init ? Init() : kOk, kOk);
    MainWindowOptions options;
    options.startPlayback = [this](std::unique_ptr<context::PlayRequest> request) {
      started.push_back(std::move(request));
      return true;
    };
    options.programPath = program;
    window = std::make_unique<MainWindow>(app, options);
    dialog.Attach(window.get());
    dialog.Send(ui::InitDialog{});
  }
  // A track of `total` seconds playing at `elapsed`, as the engine shows it.
  void Playing(std::uint32_t elapsed, std::uint32_t total) {
    dialog.ScrollSetRange(res::kIdSeekBar, 0, static_cast<int>(total), false);
    app.PositionRate = 1000;
    app.Position = elapsed * 1000ULL;
    app.TotalSeconds = total;
    app.PositionValid = 1;
    app.ShownSecond = -1;
  }
  std::vector<std::unique_ptr<context::PlayRequest>> started;
  std::unique_ptr<MainWindow> window;
};

TEST(MainWindowTest, InitialisationShowsTheIdleLookAndStartsOneTimer) {
  WindowFixture f;
  EXPECT_EQ(f.dialog.Caption(), u"Lumaro 1.31");
  EXPECT_EQ(f.dialog.Text(res::kIdFileText), u"Drop music files here");
  EXPECT_FALSE(f.dialog.IsVisible(res::kIdPlayList));
  EXPECT_FALSE(f.dialog.IsVisible(res::kIdSeekBar));
  EXPECT_FALSE(f.dialog.IsVisible(res::kIdStopButton));
  EXPECT_TRUE(f.dialog.AcceptsDrops());
  EXPECT_EQ(f.dialog.TimerPeriod(kMainTimerId), 200u);
  EXPECT_EQ(f.app.MainWindow.Load(), &f.dialog);
  f.dialog.KillTimer(kMainTimerId);
  f.dialog.Send(ui::InitDialog{});  // a timer exists already: none is started again
  EXPECT_EQ(f.dialog.TimerPeriod(kMainTimerId), 0u);
}

TEST(MainWindowTest, TimerDrawsTheTimeAndMovesTheThumbUnlessTheUserIsSeeking) {
  struct Case {
    std::uint32_t elapsed, total;
    std::uint32_t seekBusy, thumbTracking, seekPending, playCommand;
    const char16_t* text;  // nullptr: not written
    int thumb;
  } const cases[] = {
      {65, 3725, 0, 0, 0, 0, u"1:05 / 62:05", 65}, {0, 9, 0, 0, 0, 0, u"0:00 / 0:09", 0},
      {65, 70, 1, 0, 0, 0, u"1:05 / 1:10", 7},     {65, 70, 0, 1, 0, 0, u"1:05 / 1:10", 7},
      {65, 70, 0, 0, 1, 0, u"1:05 / 1:10", 7},     {65, 70, 0, 0, 0, 2, nullptr, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    WindowFixture f;
    f.Playing(c.elapsed, c.total);
    f.dialog.ScrollSetPosition(res::kIdSeekBar, 7, false);
    f.app.SeekBusy = c.seekBusy;
    f.app.ThumbTracking = c.thumbTracking;
    f.app.SeekPending = c.seekPending;
    f.app.PlayCommand = c.playCommand;
    f.dialog.Send(ui::Timer{kMainTimerId});
    EXPECT_EQ(f.dialog.Text(res::kIdTimeText), c.text ? std::u16string(c.text) : u"");
    EXPECT_EQ(f.dialog.ScrollPosition(res::kIdSeekBar), c.thumb);
  }
}

TEST(MainWindowTest, TimeTextChangesOncePerSecond) {
  WindowFixture f;
  f.Playing(3, 10);
  f.dialog.Send(ui::Timer{kMainTimerId});
  f.app.Position = 3900;  // still second 3
  f.dialog.Send(ui::Timer{kMainTimerId});
  f.app.Position = 4000;
  f.dialog.Send(ui::Timer{kMainTimerId});
  EXPECT_THAT(f.dialog.TextHistory(res::kIdTimeText),
              ElementsAre(u"", u"0:03 / 0:10", u"0:04 / 0:10"));
}

// Range 0..100: each key moves the thumb at once and asks for a seek to that second; the timer
// does not move the thumb back before the engine has fed the device again.
TEST(MainWindowTest, KeyboardSeeksMoveTheThumbAndAreNotUndoneByTheTimer) {
  // Scroll code, thumb before, thumb after.
  const std::array<int, 3> cases[] = {
      {ui::kLineLeft, 50, 49},  {ui::kLineRight, 50, 51}, {ui::kPageLeft, 50, 40},
      {ui::kPageRight, 50, 60}, {ui::kPageLeft, 3, 0},    {ui::kPageRight, 95, 100},
      {ui::kLineLeft, 0, 0},    {ui::kLeftmost, 50, 0},   {ui::kRightmost, 50, 100},
  };
  for (const auto& [code, from, expected] : cases) {
    SCOPED_TRACE(code);
    WindowFixture f;
    f.Playing(static_cast<std::uint32_t>(from), 100);
    f.dialog.ScrollSetPosition(res::kIdSeekBar, from, false);
    f.dialog.Send(ui::HScroll{res::kIdSeekBar, code});
    f.dialog.Send(ui::HScroll{res::kIdSeekBar, ui::kEndScroll});
    EXPECT_EQ(f.dialog.ScrollPosition(res::kIdSeekBar), expected);
    EXPECT_EQ(f.app.Seek.SeekFlag(), 1u);
    EXPECT_EQ(f.app.Seek.SeekTarget(), expected);
    EXPECT_EQ(f.app.SeekBusy.Load(), 0u);
    f.dialog.Send(ui::Timer{kMainTimerId});
    EXPECT_EQ(f.dialog.ScrollPosition(res::kIdSeekBar), expected);
    f.app.SeekPending = 0;  // the engine has fed the device from the new place
    f.app.ShownSecond = -1;
    f.dialog.Send(ui::Timer{kMainTimerId});
    EXPECT_EQ(f.dialog.ScrollPosition(res::kIdSeekBar), from);
  }
}

TEST(MainWindowTest, DraggingSeeksOnlyWhenTheThumbIsReleased) {
  WindowFixture f;
  f.Playing(10, 100);
  f.dialog.DragThumb(res::kIdSeekBar, 42);
  f.dialog.Send(ui::HScroll{res::kIdSeekBar, ui::kThumbTrack});
  EXPECT_EQ(f.app.ThumbTracking.Load(), 1u);
  EXPECT_EQ(f.app.Seek.SeekFlag(), 0u);
  f.dialog.Send(ui::HScroll{res::kIdSeekBar, ui::kThumbPosition});
  EXPECT_EQ(f.app.ThumbTracking.Load(), 0u);
  EXPECT_EQ(f.app.Seek.SeekFlag(), 1u);
  EXPECT_EQ(f.app.Seek.SeekTarget(), 42);
  EXPECT_EQ(f.dialog.ScrollPosition(res::kIdSeekBar), 42);
}

// Choosing the playing track again restarts it, unless gapless; any other choice jumps.
TEST(MainWindowTest, SelectingATrackRestartsOrJumps) {
  // Gapless, the track chosen, whether it restarts (else a jump).
  const std::tuple<std::uint32_t, int, bool> cases[] = {
      {0, 1, true}, {1, 1, false}, {0, 2, false}, {1, 0, false}};
  for (const auto& [gapless, selected, restart] : cases) {
    SCOPED_TRACE(::testing::Message() << gapless << " " << selected);
    WindowFixture f;
    for (const char16_t* title : {u"a", u"b", u"c"})
      (void)f.dialog.ComboAdd(res::kIdPlayList, title);
    f.app.CurrentTrack = 1;
    f.app.Gapless = gapless;
    (void)f.dialog.ComboSelect(res::kIdPlayList, selected);
    f.dialog.Send(ui::Command{res::kIdPlayList, ui::kSelChange});
    EXPECT_EQ(f.app.Seek.SeekFlag(), restart ? 1u : 0u);
    EXPECT_EQ(f.app.PlayCommand.Load(), restart ? context::kCommandNone : context::kCommandJump);
    if (restart) {
      EXPECT_EQ(f.app.Seek.SeekTarget(), 0);
    } else {
      EXPECT_EQ(f.app.RequestedTrack.Load(), static_cast<std::uint32_t>(selected));
    }
  }
}

TEST(MainWindowTest, PlayListBoxFollowsTheTrackExceptWhileItsListIsOpen) {
  WindowFixture f;
  for (const char16_t* title : {u"a", u"b"}) (void)f.dialog.ComboAdd(res::kIdPlayList, title);
  f.app.ListActive = 1;
  f.app.CurrentTrack = 1;
  f.dialog.Send(ui::Command{res::kIdPlayList, ui::kDropDown});
  f.dialog.Send(ui::Timer{kMainTimerId});
  EXPECT_EQ(f.dialog.ComboSelection(res::kIdPlayList), -1);
  f.dialog.Send(ui::Command{res::kIdPlayList, ui::kCloseUp});
  f.dialog.Send(ui::Timer{kMainTimerId});
  EXPECT_EQ(f.dialog.ComboSelection(res::kIdPlayList), 1);
}

TEST(MainWindowTest, DropBecomesARequestForTheSelectedDeviceAndRate) {
  WindowFixture f;
  f.app.DeviceIndex = 1;
  BuildRateList(f.app);
  f.app.ResampleIndex = 2;
  f.dialog.Send(ui::DropFiles{{u"/music/b.wav", u"/music/a.m3u8"}});
  ASSERT_EQ(f.started.size(), 1u);
  const context::PlayRequest& request = *f.started[0];
  EXPECT_EQ(request.App, &f.app);
  EXPECT_EQ(request.Device, u"W: Line");
  EXPECT_EQ(request.Rate, u"48000");
  EXPECT_THAT(testing::Entries(request.Paths.get()),
              ElementsAre(u"/music/b.wav", u"/music/a.m3u8"));
  EXPECT_NE(request.Steps, nullptr);
}

TEST(MainWindowTest, DropsWithoutADeviceOrRateChoiceAreRefused) {
  for (int c = 0; c < 3; ++c) {
    WindowFixture f(c != 0);  // case 0: never initialised, so no DeviceList
    if (c == 1) f.app.DeviceList = context::NewStringList();  // empty
    if (c == 2) f.app.ResampleIndex = 1000;
    f.dialog.Send(ui::DropFiles{{u"/music/a.wav"}});
    EXPECT_TRUE(f.started.empty()) << c;
  }
}

TEST(MainWindowTest, RightClickMenuStopsPlaybackEvenWhenDismissed) {
  WindowFixture f;
  {
    testing::HeldGate gate(f.app);
    f.dialog.Send(ui::RButtonUp{10, 10});
    EXPECT_TRUE(gate.StopAsked());
  }
  ASSERT_EQ(f.dialog.MenusShown().size(), 1u);
  EXPECT_EQ(f.dialog.MenusShown()[0].name, u"MENU_001");
  EXPECT_TRUE(f.dialog.MenusShown()[0].checked.empty());
  f.dialog.SetClientSize(100, 50);
  f.dialog.Send(ui::RButtonUp{100, 10});  // outside the client area: no menu
  EXPECT_EQ(f.dialog.MenusShown().size(), 1u);
}

TEST(MainWindowTest, AsioToggleResetsEverySettingAndIsShownChecked) {
  WindowFixture f;
  f.app.Gapless = 1;
  f.app.VolumeAssist = 2;
  f.app.CompUpward = 7;
  f.app.DeviceIndex = 1;
  f.dialog.SetMenuChoice(res::kIdMenuAsioSupport);
  f.dialog.Send(ui::RButtonUp{1, 1});
  EXPECT_EQ(f.app.AsioSupport.Load(), 1u);
  EXPECT_EQ(f.app.Gapless.Load(), 0u);
  EXPECT_EQ(f.app.VolumeAssist.Load(), 0u);
  EXPECT_EQ(f.app.CompUpward.Load(), 50u);
  EXPECT_EQ(f.app.DeviceIndex.Load(), 0u);
  f.dialog.SetMenuChoice(0);
  f.dialog.Send(ui::RButtonUp{1, 1});
  EXPECT_THAT(f.dialog.MenusShown()[1].checked, ElementsAre(res::kIdMenuAsioSupport));
}

TEST(MainWindowTest, ConfigurationRunsModallyThenTheIdleLookReturns) {
  WindowFixture f;
  f.dialog.SetModalDriver([](std::u16string_view, platform::ui::HeadlessDialog& child) {
    child.SetCheck(res::kIdConfigGapless, true);
    child.Send(ui::Command{res::kIdConfigGapless, 0});
  });
  f.dialog.SetText(res::kIdStatusLine, u"ERROR: read failed");
  f.dialog.Send(ui::Command{res::kIdMenuConfiguration, 0});
  EXPECT_THAT(f.dialog.ModalsRun(), ElementsAre(u"DIALOG_CONFIGURATION"));
  EXPECT_EQ(f.app.Gapless.Load(), 1u);
  EXPECT_EQ(f.dialog.Text(res::kIdStatusLine), u"");
  f.dialog.Send(ui::Command{res::kIdMenuConfiguration, 1});  // not a menu command
  EXPECT_EQ(f.dialog.ModalsRun().size(), 1u);
}

TEST(MainWindowTest, CloseStopsPlaybackFreesTheListsAndEndsTheDialog) {
  WindowFixture f;
  f.app.ScanExtensions = std::make_unique<std::u16string>(u"wav");
  testing::HeldGate gate(f.app);
  f.dialog.Send(ui::Close{});
  EXPECT_TRUE(gate.StopAsked());
  EXPECT_TRUE(f.dialog.Ended());
  EXPECT_FALSE(f.dialog.AcceptsDrops());
  EXPECT_EQ(f.dialog.TimerPeriod(kMainTimerId), 0u);
  EXPECT_EQ(f.app.DeviceList, nullptr);
  EXPECT_EQ(f.app.RateList, nullptr);
  EXPECT_EQ(f.app.SoundFontList, nullptr);
  EXPECT_EQ(f.app.ScanExtensions, nullptr);
}

}  // namespace
}  // namespace lumaro::app
