// The player through a long session at random: tracks and play lists dropped while it plays
// through the File output as fast as it is fed, with stops, seeks, track changes and volume
// assist changes at random moments from a fixed seed, driven as the terminal drives the window.
// Nothing may hang or be left behind: every playback ends, no thread stays, the kept memory
// blocks are given back (the sanitizer builds check for leaks and races), and every output file's
// header matches its length.
//
// LUMARO_SOAK_DROPS sets the number of drops (default 24; `make soak` runs 200).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/init_settings.h"
#include "app/main_window.h"
#include "app/process_entry.h"
#include "context/app_context.h"
#include "dsp/guarded_alloc.h"
#include "engine/playback_thread.h"
#include "platform/file_output/file_output.h"
#include "platform/headless/headless_dialog.h"
#include "platform/os.h"
#include "platform/services.h"
#include "platform/text.h"
#include "resources/control_ids.h"
#include "shell/options.h"
#include "shell/terminal_view.h"
#include "tests/shell/tone.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

namespace ui = platform::ui;

constexpr std::uint32_t kSeed = 20261207;
constexpr int kDefaultDrops = 24;
constexpr std::uint32_t kMaxPauseMilliseconds = 40;
constexpr std::uint32_t kEndMilliseconds = 60000;  // for the last playback to end, loaded machine
constexpr int kThreadEndPolls = 100;
constexpr std::uint32_t kThreadEndPollMilliseconds = 50;

int DropsToMake() {
  const char* text = std::getenv("LUMARO_SOAK_DROPS");
  const int drops = text != nullptr ? std::atoi(text) : 0;
  return drops > 0 ? drops : kDefaultDrops;
}

// Threads of this process (each is an entry of /proc/self/task).
std::size_t ThreadsNow() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST(SoakTest, RandomDropsStopsAndSeeksLeaveNothingBehind) {
  TempDir dir;
  // Short tracks of each kind, a file no reader takes, a missing one, and play lists of them.
  std::vector<std::int64_t> tone = ToneSamples();
  tone.resize(tone.size() / 4);
  const std::u16string tracks[] = {
      dir.Write(u"a.wav", MakeWav({}, PackLe(tone, 16))),
      dir.Write(u"b.wav", MakeWav({.rate = 96000, .bits = 24}, PackLe(tone, 24))),
      dir.Write(u"c.dsf", MakeDsf({}, {Bytes(32768, 0x69), Bytes(32768, 0x96)})),
      dir.Write(u"d.wav", Bytes(100, 7)),
      dir.File(u"gone.wav"),
  };
  std::string list;
  for (const std::u16string& track : {tracks[0], tracks[2], tracks[1], tracks[0]}) {
    list += platform::Utf16ToUtf8(track) + "\n";
  }
  const std::u16string lists[] = {dir.Write(u"l.m3u8", Bytes(list.begin(), list.end())),
                                  dir.Write(u"m.m3u8", Bytes{'x', '\n'})};

  platform::file_output::FileOutputSystem fileOutput(
      {.path = dir.File(u"out.wav"), .paced = false});
  platform::Services services;
  services.endpoints = &fileOutput;
  context::AppContext app;
  app.Services = &services;
  ASSERT_EQ(app::InitSettings(app, dir.File(u"lumaro")), kOk);
  shell::PlayOptions options;
  options.device = u"W: File output";
  options.rate = u"Auto";
  ASSERT_EQ(shell::ApplySettings(options, app), std::nullopt);

  const std::size_t threadsBefore = ThreadsNow();
  std::mt19937 random(kSeed);
  const auto below = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
  {
    ui::HeadlessDialog window;
    app::MainWindow behaviour(app);
    window.Attach(&behaviour);
    window.Send(ui::InitDialog{});
    const shell::KeyAction keys[] = {
        {shell::KeyAction::kSeek, ui::kLineRight}, {shell::KeyAction::kSeek, ui::kLineLeft},
        {shell::KeyAction::kSeek, ui::kLeftmost},  {shell::KeyAction::kSeek, ui::kRightmost},
        {shell::KeyAction::kSeek, ui::kPageRight}, {shell::KeyAction::kNextTrack},
        {shell::KeyAction::kPreviousTrack},        {shell::KeyAction::kStop},
    };
    const std::uint32_t assists[] = {context::kAssistNone, context::kAssistPeak,
                                     context::kAssistCompression, context::kAssistLoudness};
    for (int drop = 0; drop < DropsToMake(); ++drop) {
      std::vector<std::u16string> paths;
      for (std::uint32_t n = 1 + below(3); n > 0; --n) {
        paths.push_back(below(4) == 0 ? lists[below(2)] : tracks[below(5)]);
      }
      app.VolumeAssist = assists[below(4)];
      window.Send(ui::DropFiles{paths});
      for (std::uint32_t n = below(4); n > 0; --n) {
        platform::SleepMilliseconds(below(kMaxPauseMilliseconds));
        window.Send(ui::Timer{app::kMainTimerId});
        shell::SendKey(window, keys[below(std::size(keys))]);
      }
      platform::SleepMilliseconds(below(kMaxPauseMilliseconds));
    }
    window.Send(ui::Close{});
    ASSERT_TRUE(app::WaitForPlaybackEnd(app, kEndMilliseconds));
  }
  EXPECT_EQ(engine::RunningPlaybackThreads(), 0);
  // A playback thread leaves the count before it has quite ended: give it a moment.
  for (int wait = 0; wait < kThreadEndPolls && ThreadsNow() != threadsBefore; ++wait) {
    platform::SleepMilliseconds(kThreadEndPollMilliseconds);
  }
  EXPECT_EQ(ThreadsNow(), threadsBefore);
  EXPECT_EQ(dsp::KeptFreeBytes(), 0U);

  const std::vector<std::u16string> written = fileOutput.WrittenFiles();
  EXPECT_FALSE(written.empty());
  for (const std::u16string& path : written) {
    const std::optional<Bytes> bytes = ReadFileBytes(path);
    ASSERT_TRUE(bytes.has_value()) << Utf8(path);
    EXPECT_EQ(RiffSizeMismatch(*bytes), "") << Utf8(path);
  }
}

}  // namespace
}  // namespace lumaro::testing
