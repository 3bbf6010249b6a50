#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "app/configuration_dialog.h"
#include "app/volume_assist_dialog.h"
#include "resources/dialog_templates.h"
#include "tests/app/shell_fixture.h"

namespace lumaro::app {
namespace {

namespace res = resources;
namespace ui = platform::ui;
using ::testing::ElementsAre;
using testing::ShellFixture;

// The components' file names on this system ("ffmpeg" and "PMDWin.so" on POSIX, "ffmpeg.exe" and
// "PMDWin.dll" on Windows).
const std::u16string kFfmpeg = platform::ProgramFileName(u"ffmpeg");
const std::u16string kFluidsynth = platform::ProgramFileName(u"fluidsynth");
const std::u16string kPmdwin = platform::ModuleFileName(u"PMDWin");
const std::u16string kWinfmp = platform::ModuleFileName(u"WinFMP");

// What InitSettings finds depends only on the files beside the program: each component is found
// (and used) or not; Fluidsynth needs a sound font; directories of those names are no components.
TEST(InitSettingsTest, FindsTheComponentsBesideTheProgram) {
  const std::vector<std::u16string> all = {kFfmpeg, kFluidsynth, kPmdwin,
                                           kWinfmp, u"b.SF2",    u"a.sf2"};
  struct Case {
    std::vector<std::u16string> files, directories, soundFonts;
    std::uint32_t ffmpeg, fluidsynth, pmdwin, winfmp;
  } const cases[] = {
      {{}, {}, {}, 0, 0, 0, 0},
      {all, {}, {u"a.sf2", u"b.SF2"}, 1, 1, 1, 1},
      {{kFluidsynth}, {}, {}, 0, 0, 0, 0},
      {{kFluidsynth, u"notes.sf2x"}, {kFfmpeg, kPmdwin, u"dir.sf2"}, {}, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ShellFixture f;
    f.app.DeviceIndex = 1;  // the rate list follows the first device all the same
    for (const auto& name : c.files) (void)f.tree.File(name, "x");
    for (const auto& name : c.directories) (void)f.tree.Dir(name);
    ASSERT_EQ(f.Init(), kOk);
    // Each component found, and its use switched on with it.
    EXPECT_EQ(std::tuple(f.app.FfmpegFound.Load(), f.app.FluidsynthUsable.Load(),
                         f.app.PmdwinFound.Load(), f.app.WinfmpFound.Load()),
              std::tuple(c.ffmpeg, c.fluidsynth, c.pmdwin, c.winfmp));
    EXPECT_EQ(std::tuple(f.app.UseFfmpeg.Load(), f.app.UseFluidsynth.Load(), f.app.UsePmdwin.Load(),
                         f.app.UseWinfmp.Load()),
              std::tuple(c.ffmpeg, c.fluidsynth, c.pmdwin, c.winfmp));
    EXPECT_EQ(testing::Entries(f.app.SoundFontList.get()), c.soundFonts);
    EXPECT_EQ(f.app.DeviceIndex.Load(), 0u);
    const auto rates = testing::Entries(f.app.RateList.get());
    ASSERT_GT(rates.size(), 3u);  // the speakers take more rates than the line's one
    EXPECT_EQ(rates[0], u"Share");
    EXPECT_EQ(rates[1], u"Auto");
  }
}

TEST(InitSettingsTest, AnOverlongProgramPathFailsTheFontSearchAndSkipsTheFmLibraries) {
  ShellFixture f;
  (void)f.tree.File(kPmdwin, "x");
  (void)f.tree.File(u"a.sf2", "x");
  std::u16string longPath = f.tree.root() + u"/";
  longPath.append(259 - longPath.size(), u'p');
  EXPECT_NE(InitSettings(f.app, longPath), kOk);
  EXPECT_EQ(f.app.SoundFontList, nullptr);
  EXPECT_EQ(f.app.PmdwinFound.Load(), 0u);
  // The device list is built all the same.
  EXPECT_THAT(testing::Entries(f.app.DeviceList.get()), ElementsAre(u"W: Speakers", u"W: Line"));
}

// ---- Configuration dialog ------------------------------------------------------------------

struct ConfigFixture : ShellFixture {
  explicit ConfigFixture(std::u16string_view component = kPmdwin) {
    (void)tree.File(component, "x");
    EXPECT_EQ(Init(), kOk);
    dialog.Attach(&behaviour);
    dialog.Send(ui::InitDialog{});
  }
  void Click(ui::ControlId id) {
    dialog.SetCheck(id, !dialog.IsChecked(id));
    dialog.Send(ui::Command{id, 0});
  }
  void Choose(ui::ControlId id, int index) {
    (void)dialog.ComboSelect(id, index);
    dialog.Send(ui::Command{id, ui::kSelChange});
  }
  ConfigurationDialog behaviour{app, program};
};

TEST(ConfigurationDialogTest, ResetReturnsEveryOptionToItsDefaultButKeepsAsioSupport) {
  ConfigFixture f;
  f.app.AsioSupport = 1;
  f.app.PeakTarget = 3;
  f.app.CompThreshold = 150;
  f.app.LoudnessTarget = 700;
  f.app.LoudnessType = 0;
  f.Choose(res::kIdConfigDevice, 1);
  f.Choose(res::kIdConfigVolumeAssist, 2);
  f.Click(res::kIdConfigGapless);
  f.Click(res::kIdConfigCache);
  f.Click(res::kIdConfigPmdwin);
  ASSERT_EQ(f.app.DeviceIndex.Load(), 1u);
  ASSERT_EQ(f.app.Gapless.Load(), 1u);

  f.dialog.Send(ui::Command{res::kIdConfigReset, 0});

  EXPECT_EQ(f.app.DeviceIndex.Load(), 0u);
  EXPECT_EQ(f.app.VolumeAssist.Load(), 0u);
  EXPECT_EQ(f.app.PeakTarget.Load(), 100u);
  EXPECT_EQ(f.app.CompThreshold.Load(), 80u);
  EXPECT_EQ(f.app.LoudnessTarget.Load(), 126u);
  EXPECT_EQ(f.app.LoudnessType.Load(), 1u);
  EXPECT_EQ(f.app.Gapless.Load(), 0u);
  EXPECT_EQ(f.app.Cache.Load(), 0u);
  EXPECT_EQ(f.app.UsePmdwin.Load(), 1u);
  EXPECT_EQ(f.app.AsioSupport.Load(), 1u);
  // And the dialog shows it.
  EXPECT_EQ(f.dialog.ComboSelection(res::kIdConfigDevice), 0);
  EXPECT_EQ(f.dialog.ComboSelection(res::kIdConfigVolumeAssist), 0);
  EXPECT_FALSE(f.dialog.IsEnabled(res::kIdConfigOption));
  EXPECT_FALSE(f.dialog.IsChecked(res::kIdConfigGapless));
  EXPECT_TRUE(f.dialog.IsChecked(res::kIdConfigPmdwin));
}

TEST(ConfigurationDialogTest, ChoosingAnotherDeviceRebuildsTheResampleList) {
  ConfigFixture f;
  f.Choose(res::kIdConfigResample, 4);
  f.Choose(res::kIdConfigDevice, 1);
  EXPECT_EQ(f.app.ResampleIndex.Load(), 0u);
  EXPECT_EQ(f.dialog.Control(res::kIdConfigResample).items, testing::Entries(f.app.RateList.get()));
  EXPECT_THAT(f.dialog.Control(res::kIdConfigResample).items,
              ElementsAre(u"Share", u"Auto", u"48000"));
  EXPECT_EQ(f.dialog.ComboSelection(res::kIdConfigResample), 0);
  EXPECT_TRUE(f.dialog.IsEnabled(res::kIdConfigResample));
}

TEST(ConfigurationDialogTest, UncheckingPmdwinHidesPpsAndSsgRhyAndCheckingShowsTheirValues) {
  ConfigFixture f;
  f.Click(res::kIdConfigPps);
  ASSERT_EQ(f.app.Pps.Load(), 1u);
  f.Click(res::kIdConfigPmdwin);
  EXPECT_EQ(f.app.UsePmdwin.Load(), 0u);
  EXPECT_FALSE(f.dialog.IsEnabled(res::kIdConfigPps));
  EXPECT_FALSE(f.dialog.IsChecked(res::kIdConfigPps));
  EXPECT_FALSE(f.dialog.IsEnabled(res::kIdConfigSsgRhy));
  EXPECT_EQ(f.app.Pps.Load(), 1u);
  f.Click(res::kIdConfigPmdwin);
  EXPECT_TRUE(f.dialog.IsChecked(res::kIdConfigPps));
  EXPECT_FALSE(f.dialog.IsChecked(res::kIdConfigSsgRhy));
  EXPECT_TRUE(f.dialog.IsEnabled(res::kIdConfigSsgRhy));
}

TEST(ConfigurationDialogTest, WithoutSoundFontsTheFluidsynthBoxAndFontListsAreOff) {
  ConfigFixture f(kFluidsynth);
  EXPECT_FALSE(f.dialog.IsEnabled(res::kIdConfigFluidsynth));
  EXPECT_FALSE(f.dialog.IsChecked(res::kIdConfigFluidsynth));
  for (ui::ControlId id :
       {res::kIdConfigSoundFont1, res::kIdConfigSoundFont2, res::kIdConfigSoundFont3}) {
    EXPECT_FALSE(f.dialog.IsEnabled(id));
    EXPECT_EQ(f.dialog.ComboCount(id), 0);
  }
}

TEST(ConfigurationDialogTest, OptionOpensTheDialogOfTheChosenAssist) {
  ConfigFixture f;
  for (int assist : {1, 2, 3}) {
    f.Choose(res::kIdConfigVolumeAssist, assist);
    f.dialog.Send(ui::Command{res::kIdConfigOption, 0});
  }
  EXPECT_THAT(f.dialog.ModalsRun(), ElementsAre(u"DIALOG_PEAK_NORMALIZATION", u"DIALOG_COMPRESSION",
                                                u"DIALOG_LOUDNESS_NORMALIZATION"));
}

// ---- Volume-assist dialogs -----------------------------------------------------------------

// Every row of every dialog: Home/End move the bar to its limits and show the value; the
// Setting takes the bar's value only at close; Reset after a move restores the reset value.
TEST(VolumeAssistDialogTest, BarsMoveWithinLimitsAndReachTheSettingsOnlyAtClose) {
  context::AppContext app;
  for (const AssistDialogKind kind :
       {AssistDialogKind::kPeak, AssistDialogKind::kCompression, AssistDialogKind::kLoudness}) {
    for (const AssistRow& row : AssistRows(kind)) {
      const std::uint32_t minimum = (app.*row.minimum).Load();
      const std::uint32_t maximum = (app.*row.maximum).Load();
      const std::uint32_t reset = (app.*row.reset).Load();
      const std::uint32_t before = (app.*row.setting).Load();
      SCOPED_TRACE(row.bar);

      platform::ui::HeadlessDialog dialog;
      VolumeAssistDialog behaviour(app, kind);
      dialog.Attach(&behaviour);
      dialog.Send(ui::InitDialog{});
      dialog.Send(ui::HScroll{row.bar, ui::kRightmost});
      EXPECT_EQ(dialog.ScrollPosition(row.bar), static_cast<int>(maximum));
      EXPECT_EQ(dialog.Text(row.value), platform::DecimalText(maximum));
      dialog.Send(ui::HScroll{row.bar, ui::kLineRight});
      EXPECT_EQ(dialog.ScrollPosition(row.bar), static_cast<int>(maximum));
      dialog.Send(ui::HScroll{row.bar, ui::kLeftmost});
      dialog.Send(ui::HScroll{row.bar, ui::kPageLeft});
      EXPECT_EQ(dialog.ScrollPosition(row.bar), static_cast<int>(minimum));
      EXPECT_EQ(dialog.Text(row.value), platform::DecimalText(minimum));
      dialog.Send(ui::HScroll{row.bar, ui::kPageRight});
      EXPECT_EQ(dialog.ScrollPosition(row.bar), static_cast<int>(minimum + 10));
      dialog.DragThumb(row.bar, static_cast<int>(minimum + 1));
      dialog.Send(ui::HScroll{row.bar, ui::kThumbTrack});
      EXPECT_EQ(dialog.Text(row.value), platform::DecimalText(minimum + 1));
      EXPECT_EQ((app.*row.setting).Load(), before);

      const ui::ControlId resetId = kind == AssistDialogKind::kLoudness
                                        ? res::kIdLoudnessReset
                                        : res::kIdCompReset;  // 1001 in the other two
      dialog.Send(ui::Command{resetId, 0});
      EXPECT_EQ(dialog.ScrollPosition(row.bar), static_cast<int>(reset));
      EXPECT_EQ((app.*row.setting).Load(), reset);

      dialog.Send(ui::HScroll{row.bar, ui::kLeftmost});
      dialog.Send(ui::Close{});
      EXPECT_TRUE(dialog.Ended());
      EXPECT_EQ((app.*row.setting).Load(), minimum);
    }
  }
}

TEST(CompressionDialogTest, PeakNormalizationOffDisablesOptionAndResetRestoresTheLists) {
  context::AppContext app;
  platform::ui::HeadlessDialog dialog;
  VolumeAssistDialog behaviour(app, AssistDialogKind::kCompression);
  dialog.Attach(&behaviour);
  dialog.Send(ui::InitDialog{});
  EXPECT_TRUE(dialog.IsEnabled(res::kIdCompOption));
  (void)dialog.ComboSelect(res::kIdCompPeakNormalization, 0);
  dialog.Send(ui::Command{res::kIdCompPeakNormalization, ui::kSelChange});
  (void)dialog.ComboSelect(res::kIdCompLoudnessType, 0);
  dialog.Send(ui::Command{res::kIdCompLoudnessType, ui::kSelChange});
  EXPECT_EQ(app.CompPeakNormalization.Load(), 0u);
  EXPECT_EQ(app.CompLoudnessType.Load(), 0u);
  EXPECT_FALSE(dialog.IsEnabled(res::kIdCompOption));
  dialog.Send(ui::Command{res::kIdCompReset, 0});
  EXPECT_EQ(app.CompPeakNormalization.Load(), 1u);
  EXPECT_EQ(app.CompLoudnessType.Load(), 1u);
  EXPECT_EQ(dialog.ComboSelection(res::kIdCompPeakNormalization), 1);
  EXPECT_TRUE(dialog.IsEnabled(res::kIdCompOption));
  dialog.Send(ui::Command{res::kIdCompOption, 0});
  EXPECT_THAT(dialog.ModalsRun(), ElementsAre(u"DIALOG_PEAK_NORMALIZATION"));
}

}  // namespace
}  // namespace lumaro::app
