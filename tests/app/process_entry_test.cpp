#include "app/process_entry.h"

#include <gtest/gtest.h>

#include "tests/app/shell_fixture.h"

namespace lumaro::app {
namespace {

TEST(ProcessEntryTest, FmChildSwitchNeedsAFurtherArgumentAndIgnoresLetterCase) {
  // Arguments, a child runs.
  const std::pair<std::vector<std::u16string>, bool> cases[] = {
      {{u"lumaro"}, false},
      {{u"lumaro", u"/FMPMD"}, false},
      {{u"lumaro", u"/FMPMD", u"a"}, true},
      {{u"lumaro", u"/fmpmd", u"a"}, true},
      {{u"lumaro", u"/FmPmD", u"a", u"b", u"c", u"d"}, true},
      {{u"lumaro", u"a", u"/FMPMD"}, false},
      {{u"lumaro", u"FMPMD", u"a"}, false},
      {{u"lumaro", u"/FMPMDX", u"a"}, false},
  };
  for (const auto& [args, child] : cases) {
    testing::ShellFixture f;
    bool childRan = false, windowRan = false;
    EntryHooks hooks;
    hooks.programPath = f.program;
    hooks.runFmChild = [&](context::AppContext& app) {
      childRan = true;
      EXPECT_EQ(app.ArgVector, args);
      EXPECT_EQ(app.DeviceList, nullptr);  // no settings in the child
    };
    hooks.runMainWindow = [&](context::AppContext&) { windowRan = true; };
    EXPECT_EQ(ProcessEntry(args, f.services, hooks), 0);
    EXPECT_EQ(childRan, child) << args.size();
    EXPECT_EQ(windowRan, !child);
  }
}

// The player gets the settings and the scan tool's start-up values; without settings (a program
// path too long for them) no window opens, and the process still ends with 0.
TEST(ProcessEntryTest, PlayerGetsSettingsAndTheScanToolsStartUpValues) {
  for (const bool settingsFail : {false, true}) {
    testing::ShellFixture f;
    EntryHooks hooks;
    hooks.programPath = settingsFail ? f.tree.root() + u"/" + std::u16string(300, u'x') : f.program;
    bool windowRan = false;
    hooks.runMainWindow = [&](context::AppContext& app) {
      windowRan = true;
      ASSERT_NE(app.ScanExtensions, nullptr);
      EXPECT_EQ(*app.ScanExtensions, context::kDefaultExtensions);
      EXPECT_EQ(app.ScanAddPath.Load(), 1u);
      EXPECT_EQ(app.DeviceList->Count(), 2);
    };
    EXPECT_EQ(ProcessEntry({u"lumaro", u"song.wav"}, f.services, hooks), 0);
    EXPECT_EQ(windowRan, !settingsFail);
  }
}

}  // namespace
}  // namespace lumaro::app
