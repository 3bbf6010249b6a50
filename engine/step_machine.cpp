#include "engine/step_machine.h"

#include <exception>
#include <new>
#include <optional>

#include "app/playback_gate.h"
#include "engine/engine_steps.h"
#include "engine/gapless_join.h"
#include "engine/playback_event.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/scope_exit.h"
#include "resources/control_ids.h"
#include "resources/status_texts.h"

namespace lumaro::engine {
namespace {

using app::PlayRequest;
using platform::ScopeExit;
using platform::ui::Dialog;
namespace res = resources;

enum : Result {
  kErrStepNumber = 0x1100,
  kErrNoHandler,
  kErrTracksMemory,
  kErrPlaylistRead,
  kErrPlaylistAppend,
  kErrTrackAppend,
  kErrNoDropFiles,
  kErrNoDevice,
  kErrNoRate,
  kErrFileTitle,
  kErrTitleMemory,
  kErrTableMemory,
  kErrNotSameFormat,
  kErrCoInitialize,
  kErrCreateEvent,
};

constexpr std::u16string_view kPlaylistExtension = u".m3u8";
constexpr std::uint32_t kGateRetryMilliseconds = 1;

Dialog* Window(const PlayRequest& r) { return r.App->MainWindow.Load(); }

std::uint32_t Command(const PlayRequest& r) { return r.App->PlayCommand.Load(); }

// The steps of this playback; a request made without them runs none of the other components.
const EngineSteps& Steps(const PlayRequest& r) {
  static const EngineSteps kNone{};
  return r.Steps != nullptr ? *r.Steps : kNone;
}

bool IsEndpointDevice(const PlayRequest& r) { return !r.Device.empty() && r.Device[0] == u'W'; }

Result RunHandler(const StepHandler& handler, PlayRequest& r) {
  return handler ? handler(r) : kErrNoHandler;
}

// Shows a path in the file text (shortened to fit by a real window).
void ShowPath(const PlayRequest& r, const std::u16string* path) {
  if (Dialog* w = Window(r)) w->SetPathText(res::kIdFileText, path != nullptr ? *path : u"");
}

// The seek bar hidden, disabled, range 0 to 0, thumb at 0.
void ResetSeekBar(Dialog& w) {
  w.Show(res::kIdSeekBar, false);
  w.Enable(res::kIdSeekBar, false);
  w.ScrollSetRange(res::kIdSeekBar, 0, 0, false);
  w.ScrollSetPosition(res::kIdSeekBar, 0, true);
}

// The play-list box hidden, disabled and emptied.
void ResetPlayListBox(Dialog& w) {
  w.Show(res::kIdPlayList, false);
  w.Enable(res::kIdPlayList, false);
  w.ComboReset(res::kIdPlayList);
}

// Step 0: takes the playback gate, stopping an older playback until it has left.
Result TakeGate(PlayRequest& r) {
  while (!app::TryTakePlaybackGate()) {
    r.App->PlayCommand = app::kCommandStop;
    platform::SleepMilliseconds(kGateRetryMilliseconds);
  }
  ScopeExit giveBack([] { app::ReleasePlaybackGate(); });
  return StepMachine(r, 1);
}

// Step 1: resets the playback words; frees the dropped paths afterwards.
Result ResetPlaybackWords(PlayRequest& r) {
  app::AppContext& a = *r.App;
  a.PlayCommand = app::kCommandNone;
  a.PositionValid = 0;
  a.CurrentTrack = 0;
  ScopeExit cleanup([&] {
    a.CurrentTrack = 0;
    a.PositionValid = 0;
    r.Paths.reset();
  });
  return StepMachine(r, 2);
}

// Step 2: the playing look of the main window; the idle look afterwards (an error text and the
// failing path stay visible).
Result ShowPlayingLook(PlayRequest& r) {
  if (Dialog* w = Window(r)) {
    ResetPlayListBox(*w);
    w->SetText(res::kIdFileText, u"");
    w->Show(res::kIdFileText, true);
    w->SetText(res::kIdStatusLine, u"");
    ResetSeekBar(*w);
    w->Enable(res::kIdStopButton, true);
    w->Show(res::kIdStopButton, true);
    w->SetText(res::kIdTimeText, u"");
  }
  const Result result = StepMachine(r, 3);
  if (Dialog* w = Window(r)) {
    w->SetText(res::kIdTimeText, u"");
    w->Show(res::kIdStopButton, false);
    w->Enable(res::kIdStopButton, false);
    ResetSeekBar(*w);
    if (result == kOk || Command(r) == app::kCommandStop) {
      w->SetText(res::kIdFileText, res::kTextDropHere);
      w->SetText(res::kIdStatusLine, u"");
    }
    w->Show(res::kIdFileText, true);
    ResetPlayListBox(*w);
    w->Repaint();
  }
  return result;
}

// Appends every entry of a play list that was read to Tracks.
Result AppendPlaylist(PlayRequest& r, const app::StringList& list) {
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    const std::u16string* entry = list.Entry(i);
    if (entry == nullptr || r.Tracks->Append(*entry) != kOk) {
      ShowStatus(r, res::kErrOutOfMemory);
      return kErrPlaylistAppend;
    }
  }
  return kOk;
}

// Step 3: expands the dropped paths into Tracks, reading ".m3u8" play lists (exact, case-
// sensitive extension); frees Tracks afterwards. A stop during the expansion answers 0.
Result ExpandPlaylists(PlayRequest& r) {
  r.Tracks = app::NewStringList();
  if (!r.Tracks) {
    ShowStatus(r, res::kErrOutOfMemory);
    return kErrTracksMemory;
  }
  ScopeExit freeTracks([&] { r.Tracks.reset(); });
  const app::StringList& paths = *r.Paths;
  for (std::int32_t i = 0; i < paths.Count() && Command(r) == app::kCommandNone; ++i) {
    const std::u16string& path = *paths.Entry(i);
    if (platform::PathFindExtension(path) != kPlaylistExtension) {
      if (r.Tracks->Append(path) != kOk) {
        ShowStatus(r, res::kErrOutOfMemory);
        return kErrTrackAppend;
      }
      continue;
    }
    ShowPath(r, &path);
    ShowStatus(r, res::kStatusPlaylistReading);
    const auto& reader = Steps(r).readPlaylist;
    const std::unique_ptr<app::StringList> list =
        reader ? reader(path, r.App->PlayCommand) : nullptr;
    if (!list) {
      if (Command(r) == app::kCommandNone) {
        ShowPath(r, &path);
        ShowStatus(r, res::kErrPlaylistReadFailed);
      }
      return kErrPlaylistRead;
    }
    if (Command(r) == app::kCommandNone) {
      if (const Result appended = AppendPlaylist(r, *list); appended != kOk) return appended;
    }
  }
  if (Command(r) != app::kCommandNone) return kOk;
  return StepMachine(r, 4);
}

// Adds the file title of every track to the play-list box; answers kOk when all were added
// (or a stop ended the loop early).
Result AddFileTitles(PlayRequest& r) {
  for (std::uint32_t i = 0; i < r.TrackCount && Command(r) == app::kCommandNone; ++i) {
    std::optional<std::u16string> title;
    try {
      title = platform::GetFileTitle(*r.Tracks->Entry(i));
    } catch (const std::exception&) {
      ShowStatus(r, res::kErrOutOfMemory);
      return kErrTitleMemory;
    }
    if (!title) {
      ShowStatus(r, res::kErrGetFileTitle);
      return kErrFileTitle;
    }
    if (Dialog* w = Window(r)) w->ComboAdd(res::kIdPlayList, *title);
  }
  return kOk;
}

// Step 4: checks the request and fills the play-list box.
Result RegisterFileList(PlayRequest& r) {
  if (Dialog* w = Window(r)) w->SetText(res::kIdFileText, u"");
  ShowStatus(r, res::kStatusRegistering);
  r.TrackCount = static_cast<std::uint32_t>(r.Tracks->Count());
  if (r.TrackCount == 0) {
    ShowStatus(r, res::kErrNoDropFiles);
    return kErrNoDropFiles;
  }
  if (r.Device.empty()) {
    ShowStatus(r, res::kErrNoAvailableDevices);
    return kErrNoDevice;
  }
  if (r.Rate.empty()) {
    ShowStatus(r, res::kErrDeviceMayNotBeAvailable);
    return kErrNoRate;
  }
  const Result titles = AddFileTitles(r);
  if (titles != kOk || Command(r) != app::kCommandNone) {
    if (Dialog* w = Window(r)) w->ComboReset(res::kIdPlayList);
    return titles;
  }
  app::AppContext& a = *r.App;
  if (Dialog* w = Window(r)) {
    w->Show(res::kIdFileText, false);
    w->SetText(res::kIdFileText, u"");
    w->Enable(res::kIdPlayList, a.Gapless.Load() == 0);
    w->Show(res::kIdPlayList, true);
  }
  a.ListActive = 1;
  ScopeExit inactive([&] { a.ListActive = 0; });
  return StepMachine(r, 5);
}

// The track loop without gapless: plays tracks until a stop or a failure, following the
// commands the window and the feeding leave in PlayCommand.
Result PlayTracksInTurn(PlayRequest& r) {
  app::AppContext& a = *r.App;
  Result result = kOk;
  for (;;) {
    bool play = true;
    switch (a.PlayCommand.Load()) {
      case app::kCommandStop:
        return result;
      case app::kCommandNone:
        break;
      case app::kCommandTrackEnded:
        r.TrackIndex = r.TrackIndex + 1 >= r.TrackCount ? 0 : r.TrackIndex + 1;
        break;
      case app::kCommandJump: {
        const std::uint32_t requested = a.RequestedTrack.Load();
        if (requested >= r.TrackCount) {
          a.PlayCommand = app::kCommandStop;
          play = false;
        } else {
          r.TrackIndex = requested;
        }
        break;
      }
      default:
        a.PlayCommand = app::kCommandStop;
        play = false;
        break;
    }
    if (play) {
      a.CurrentTrack = r.TrackIndex;
      a.PlayCommand = app::kCommandNone;
      r.TrackPath = r.Tracks->Entry(r.TrackIndex);
      result = StepMachine(r, 6);
    }
    if (result != kOk) return result;
  }
}

// Step 5: the track loop, or the gapless table and one pass through step 6.
Result RunTrackLoop(PlayRequest& r) {
  r.App->CurrentTrack = 0;
  if (r.App->Gapless.Load() == 0) return PlayTracksInTurn(r);
  r.TrackTable.reset(new (std::nothrow) app::TrackTableEntry[r.TrackCount]);
  if (!r.TrackTable) {
    ShowStatus(r, res::kErrOutOfMemory);
    return kErrTableMemory;
  }
  ScopeExit freeTable([&] { r.TrackTable.reset(); });
  return StepMachine(r, 6);
}

// Clears the position words and the seek bar and time text of the window.
void ClearPosition(PlayRequest& r) {
  app::AppContext& a = *r.App;
  a.Position = 0;
  a.PositionRate = 0;
  a.Seek.SetTarget(0);
  a.PositionValid = 0;
  if (Dialog* w = Window(r)) {
    ResetSeekBar(*w);
    w->SetText(res::kIdTimeText, u"");
  }
}

// Step 6: shows the track and clears the position before and after it plays.
Result PrepareTrack(PlayRequest& r) {
  ShowStatus(r, res::kStatusPreparing);
  ShowPath(r, r.TrackPath);
  ClearPosition(r);
  const Result result = StepMachine(r, 7);
  ClearPosition(r);
  return result;
}

// The source description every track of a gapless list must share.
struct SourceFormat {
  std::uint32_t isDsd;
  std::uint32_t bits;
  std::uint32_t rate;
  bool operator==(const SourceFormat&) const = default;
};

SourceFormat FormatOf(const PlayRequest& r) { return {r.IsDsd, r.DecodedBits, r.DecodedRate}; }

// Decodes every track of a gapless list into the track table; all must share one format.
Result DecodeAllTracks(PlayRequest& r) {
  SourceFormat reference{};
  for (std::uint32_t i = 0; i < r.TrackCount; ++i) {
    r.TrackIndex = i;
    r.App->CurrentTrack = i;
    r.Buffer.Clear();
    r.TrackPath = r.Tracks->Entry(i);
    if (const Result decoded = StepMachine(r, 8); decoded != kOk) return decoded;
    r.TrackTable[i].Record.Put(r.Buffer.Take());
    if (i == 0) {
      reference = FormatOf(r);
    } else if (FormatOf(r) != reference) {
      ShowPath(r, r.TrackPath);
      ShowStatus(r, res::kErrNotSameFormat);
      return kErrNotSameFormat;
    }
  }
  return kOk;
}

// Step 7: decodes one track (or all, joined) and runs the device steps; a stop, a jump or an
// ended track during any later step answers 0 so that the track loop acts on PlayCommand.
Result DecodeTrack(PlayRequest& r) {
  Result result = kOk;
  if (!PlaysGapless(r)) {
    result = StepMachine(r, 8);
    if (result == kOk && Command(r) == app::kCommandNone) result = StepMachine(r, 9);
  } else {
    result = DecodeAllTracks(r);
    if (result != kOk) return result;  // a failed decode ends the step with its own result
    result = JoinTracks(r);
    r.TrackIndex = 0;
    r.App->CurrentTrack = 0;
    if (result == kOk && Command(r) == app::kCommandNone) result = StepMachine(r, 9);
  }
  r.Buffer.Clear();
  if (Command(r) != app::kCommandNone) return kOk;
  return result;
}

// Step 9: sets up the component system for the device interfaces, then opens the device family
// named by the first character of Device.
Result InitializeCom(PlayRequest& r) {
  ShowStatus(r, res::kStatusComInitializing);
  if (!platform::InitializeApartment()) {
    ShowStatus(r, res::kErrCoInitializeFailed);
    return kErrCoInitialize;
  }
  ScopeExit uninitialize([] { platform::UninitializeApartment(); });
  return StepMachine(r, IsEndpointDevice(r) ? 10 : 14);
}

// Step 23: creates the PlaybackEvent for the device's feeding; closes it afterwards.
Result CreatePlaybackEvent(PlayRequest& r) {
  const std::unique_ptr<platform::Event> event = platform::Event::Create();
  if (!event) {
    ShowStatus(r, res::kErrCreateEventFailed);
    return kErrCreateEvent;
  }
  PlaybackEventScope published(event.get());
  return StepMachine(r, IsEndpointDevice(r) ? 24 : 28);
}

}  // namespace

Result StepMachine(PlayRequest& r, unsigned step) {
  switch (step) {
    case 0:
      return TakeGate(r);
    case 1:
      return ResetPlaybackWords(r);
    case 2:
      return ShowPlayingLook(r);
    case 3:
      return ExpandPlaylists(r);
    case 4:
      return RegisterFileList(r);
    case 5:
      return RunTrackLoop(r);
    case 6:
      return PrepareTrack(r);
    case 7:
      return DecodeTrack(r);
    case 8:
      return RunHandler(Steps(r).decode, r);
    case 9:
      return InitializeCom(r);
    case 23:
      return CreatePlaybackEvent(r);
    default:
      if (step > kLastStep) return kErrStepNumber;
      return RunHandler(Steps(r).device[step], r);
  }
}

}  // namespace lumaro::engine
