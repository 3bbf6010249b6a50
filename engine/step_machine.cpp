#include "engine/step_machine.h"

#include <exception>
#include <new>
#include <optional>

#include "context/playback_gate.h"
#include "engine/gapless_join.h"
#include "engine/playback_event.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/scope_exit.h"
#include "resources/control_ids.h"
#include "resources/status_texts.h"

namespace lumaro::engine {
namespace {

using context::PlayRequest;
using context::Step;
using platform::ScopeExit;
using platform::ui::Dialog;
namespace res = resources;

enum : Result {
  kErrStepNumber = FirstCode(FailureSite::kStepMachine),
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
  kErrUnexpected,
  kErrPlaylistSpecial,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kStepMachine,
    kErrPlaylistSpecial,
    {"no such step", "step without a handler", "no memory for the track list",
     "play list read failed", "no memory for a play-list entry", "no memory for a track",
     "no tracks dropped", "no device", "no resample choice", "file title failed",
     "no memory for a file title", "no memory for the gapless table",
     "gapless tracks differ in format", "component system setup failed",
     "PlaybackEvent creation failed", "unexpected exception in the playback",
     "play list not a regular file (a pipe, socket or device)"}};

// Notes one of this file's failures; answers its code.
Result Fail(Result code, std::u16string_view path = {}) { return kFailures.Note(code, path); }

Dialog* Window(const PlayRequest& r) { return r.App->MainWindow.Load(); }

std::uint32_t Command(const PlayRequest& r) { return r.App->PlayCommand.Load(); }

// The steps of this playback; a request made without them runs none of the other components.
const context::StepTable& Steps(const PlayRequest& r) {
  static const context::StepTable kNone{};
  return r.Steps != nullptr ? *r.Steps : kNone;
}

Result RunHandler(const context::StepHandler& handler, PlayRequest& r) {
  return handler ? handler(r) : Fail(kErrNoHandler);
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

// Step 0: takes the playback gate, stopping an older playback until it has left (asking again
// every millisecond, and trying again as soon as the gate is given back).
Result TakeGate(PlayRequest& r) {
  while (!context::TryTakePlaybackGate()) {
    r.App->PlayCommand = context::kCommandStop;
    (void)context::WaitForPlaybackGate(context::kGateRetryMilliseconds);
  }
  ScopeExit giveBack([] { context::ReleasePlaybackGate(); });
  Result result = kErrUnexpected;
  try {
    result = StepMachine(r, Step::kResetPlaybackWords);
  } catch (const std::exception&) {
    // Only an allocation inside a standard container can throw here; every step has released
    // what it held on the way out.
    (void)Fail(kErrUnexpected);
  }
  // Published while the gate is held, so a newer playback's result always comes later. A
  // playback that ends on a stop ends idle, whatever its steps answered: it did not fail.
  r.App->Failures.Add(Command(r) == context::kCommandStop ? kOk : result,
                      platform::TakeFailureChain());
  return result;
}

// Step 1: resets the playback words; frees the dropped paths afterwards.
Result ResetPlaybackWords(PlayRequest& r) {
  context::AppContext& a = *r.App;
  a.PlayCommand = context::kCommandNone;
  a.PositionValid = 0;
  a.CurrentTrack = 0;
  ScopeExit cleanup([&] {
    a.CurrentTrack = 0;
    a.PositionValid = 0;
    r.Paths.reset();
  });
  return StepMachine(r, Step::kShowPlayingLook);
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
  const Result result = StepMachine(r, Step::kExpandPlaylists);
  if (Dialog* w = Window(r)) {
    w->SetText(res::kIdTimeText, u"");
    w->Show(res::kIdStopButton, false);
    w->Enable(res::kIdStopButton, false);
    ResetSeekBar(*w);
    if (result == kOk || Command(r) == context::kCommandStop) {
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
Result AppendPlaylist(PlayRequest& r, const context::StringList& list) {
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    const std::u16string* entry = list.Entry(i);
    if (entry == nullptr || r.Tracks->Append(*entry) != kOk) {
      ShowStatus(r, res::kErrOutOfMemory);
      return Fail(kErrPlaylistAppend);
    }
  }
  return kOk;
}

// Step 3: expands the dropped paths into Tracks, reading ".m3u8" play lists (exact, case-
// sensitive extension); frees Tracks afterwards. A stop during the expansion answers 0.
Result ExpandPlaylists(PlayRequest& r) {
  r.Tracks = context::NewStringList();
  if (!r.Tracks) {
    ShowStatus(r, res::kErrOutOfMemory);
    return Fail(kErrTracksMemory);
  }
  ScopeExit freeTracks([&] { r.Tracks.reset(); });
  const context::StringList& paths = *r.Paths;
  for (std::int32_t i = 0; i < paths.Count() && Command(r) == context::kCommandNone; ++i) {
    const std::u16string& path = *paths.Entry(i);
    if (platform::PathFindExtension(path) != context::kPlaylistExtension) {
      if (r.Tracks->Append(path) != kOk) {
        ShowStatus(r, res::kErrOutOfMemory);
        return Fail(kErrTrackAppend);
      }
      continue;
    }
    ShowPath(r, &path);
    ShowStatus(r, res::kStatusPlaylistReading);
    const auto& reader = Steps(r).readPlaylist;
    // A pipe, socket or device could hold the reader for ever: it is not read at all.
    const bool special = platform::IsSpecialFile(path);
    if (special) (void)Fail(kErrPlaylistSpecial, path);
    const std::unique_ptr<context::StringList> list =
        reader && !special ? reader(path, r.App->PlayCommand) : nullptr;
    if (!list) {
      if (Command(r) != context::kCommandNone) return kOk;  // the reader was stopped
      ShowPath(r, &path);
      ShowStatus(r, res::kErrPlaylistReadFailed);
      return Fail(kErrPlaylistRead, path);
    }
    if (Command(r) == context::kCommandNone) {
      if (const Result appended = AppendPlaylist(r, *list); appended != kOk) return appended;
    }
  }
  if (Command(r) != context::kCommandNone) return kOk;
  return StepMachine(r, Step::kRegisterFileList);
}

// Adds the file title of every track to the play-list box; answers kOk when all were added
// (or a stop ended the loop early).
Result AddFileTitles(PlayRequest& r) {
  for (std::uint32_t i = 0; i < r.TrackCount && Command(r) == context::kCommandNone; ++i) {
    std::optional<std::u16string> title;
    try {
      title = platform::GetFileTitle(*r.Tracks->Entry(i));
    } catch (const std::exception&) {
      ShowStatus(r, res::kErrOutOfMemory);
      return Fail(kErrTitleMemory);
    }
    if (!title) {
      ShowStatus(r, res::kErrGetFileTitle);
      return Fail(kErrFileTitle, *r.Tracks->Entry(i));
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
    return Fail(kErrNoDropFiles);
  }
  if (r.Device.empty()) {
    ShowStatus(r, res::kErrNoAvailableDevices);
    return Fail(kErrNoDevice);
  }
  if (r.Rate.empty()) {
    ShowStatus(r, res::kErrDeviceMayNotBeAvailable);
    return Fail(kErrNoRate);
  }
  const Result titles = AddFileTitles(r);
  if (titles != kOk || Command(r) != context::kCommandNone) {
    if (Dialog* w = Window(r)) w->ComboReset(res::kIdPlayList);
    return titles;
  }
  context::AppContext& a = *r.App;
  if (Dialog* w = Window(r)) {
    w->Show(res::kIdFileText, false);
    w->SetText(res::kIdFileText, u"");
    w->Enable(res::kIdPlayList, a.Gapless.Load() == 0);
    w->Show(res::kIdPlayList, true);
  }
  a.ListActive = 1;
  ScopeExit inactive([&] { a.ListActive = 0; });
  return StepMachine(r, Step::kTrackLoop);
}

// The track loop without gapless: plays tracks until a stop or a failure, following the
// commands the window and the feeding leave in PlayCommand.
Result PlayTracksInTurn(PlayRequest& r) {
  context::AppContext& a = *r.App;
  Result result = kOk;
  for (;;) {
    bool play = true;
    switch (a.PlayCommand.Load()) {
      case context::kCommandStop:
        return result;
      case context::kCommandNone:
        break;
      case context::kCommandTrackEnded:
        r.TrackIndex = r.TrackIndex + 1 >= r.TrackCount ? 0 : r.TrackIndex + 1;
        break;
      case context::kCommandJump: {
        const std::uint32_t requested = a.RequestedTrack.Load();
        if (requested >= r.TrackCount) {
          a.PlayCommand = context::kCommandStop;
          play = false;
        } else {
          r.TrackIndex = requested;
        }
        break;
      }
      default:
        a.PlayCommand = context::kCommandStop;
        play = false;
        break;
    }
    if (play) {
      a.CurrentTrack = r.TrackIndex;
      a.PlayCommand = context::kCommandNone;
      r.TrackPath = r.Tracks->Entry(r.TrackIndex);
      result = StepMachine(r, Step::kPrepareTrack);
    }
    if (result != kOk) return result;
  }
}

// Step 5: the track loop, or the gapless table and one pass through step 6.
Result RunTrackLoop(PlayRequest& r) {
  r.App->CurrentTrack = 0;
  if (r.App->Gapless.Load() == 0) return PlayTracksInTurn(r);
  r.TrackTable.reset(new (std::nothrow) context::TrackTableEntry[r.TrackCount]);
  if (!r.TrackTable) {
    ShowStatus(r, res::kErrOutOfMemory);
    return Fail(kErrTableMemory);
  }
  ScopeExit freeTable([&] { r.TrackTable.reset(); });
  return StepMachine(r, Step::kPrepareTrack);
}

// Clears the position words and the seek bar and time text of the window.
void ClearPosition(PlayRequest& r) {
  context::AppContext& a = *r.App;
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
  const Result result = StepMachine(r, Step::kDecodeTracks);
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
    if (const Result decoded = StepMachine(r, Step::kDecode); decoded != kOk) return decoded;
    r.TrackTable[i].Record.Put(r.Buffer.Take());
    if (i == 0) {
      reference = FormatOf(r);
    } else if (FormatOf(r) != reference) {
      ShowPath(r, r.TrackPath);
      ShowStatus(r, res::kErrNotSameFormat);
      return Fail(kErrNotSameFormat, *r.TrackPath);
    }
  }
  return kOk;
}

// Step 7: decodes one track (or all, joined) and runs the device steps; a stop, a jump or an
// ended track during any later step answers 0 so that the track loop acts on PlayCommand.
Result DecodeTrack(PlayRequest& r) {
  Result result = kOk;
  if (!PlaysGapless(r)) {
    result = StepMachine(r, Step::kDecode);
    if (result == kOk && Command(r) == context::kCommandNone)
      result = StepMachine(r, Step::kInitializeCom);
  } else {
    result = DecodeAllTracks(r);
    if (result != kOk) return result;  // a failed decode ends the step with its own result
    result = JoinTracks(r);
    r.TrackIndex = 0;
    r.App->CurrentTrack = 0;
    if (result == kOk && Command(r) == context::kCommandNone)
      result = StepMachine(r, Step::kInitializeCom);
  }
  r.Buffer.Clear();
  if (Command(r) != context::kCommandNone) return kOk;
  return result;
}

// Step 9: sets up the component system for the device interfaces, then opens the device family
// named by the first character of Device.
Result InitializeCom(PlayRequest& r) {
  ShowStatus(r, res::kStatusComInitializing);
  if (!platform::InitializeApartment()) {
    ShowStatus(r, res::kErrCoInitializeFailed);
    return Fail(kErrCoInitialize);
  }
  ScopeExit uninitialize([] { platform::UninitializeApartment(); });
  return StepMachine(r, FamilyStepsOf(r).open);
}

// Step 23: creates the PlaybackEvent for the device's feeding; closes it afterwards.
Result CreatePlaybackEvent(PlayRequest& r) {
  const std::unique_ptr<platform::Event> event = platform::Event::Create();
  if (!event) {
    ShowStatus(r, res::kErrCreateEventFailed);
    return Fail(kErrCreateEvent);
  }
  PlaybackEventScope published(event.get());
  return StepMachine(r, FamilyStepsOf(r).render);
}

}  // namespace

const context::FamilySteps& FamilyStepsOf(const PlayRequest& r) {
  return Steps(r).Family(context::FamilyOf(r.Device));
}

namespace {

Result RunStep(PlayRequest& r, unsigned number) {
  if (number > context::Number(context::kLastStep)) return Fail(kErrStepNumber);
  const auto step = static_cast<Step>(number);
  switch (step) {
    case Step::kTakeGate:
      return TakeGate(r);
    case Step::kResetPlaybackWords:
      return ResetPlaybackWords(r);
    case Step::kShowPlayingLook:
      return ShowPlayingLook(r);
    case Step::kExpandPlaylists:
      return ExpandPlaylists(r);
    case Step::kRegisterFileList:
      return RegisterFileList(r);
    case Step::kTrackLoop:
      return RunTrackLoop(r);
    case Step::kPrepareTrack:
      return PrepareTrack(r);
    case Step::kDecodeTracks:
      return DecodeTrack(r);
    case Step::kDecode:
      return RunHandler(Steps(r).decode, r);
    case Step::kInitializeCom:
      return InitializeCom(r);
    case Step::kRaisePriority:
      return RunHandler(Steps(r).raisePriority, r);
    case Step::kApplyVolumeAssist:
      return RunHandler(Steps(r).applyVolumeAssist, r);
    case Step::kCreatePlaybackEvent:
      return CreatePlaybackEvent(r);
    default:
      return RunHandler(FamilyStepsOf(r).handlers[number], r);
  }
}

}  // namespace

Result StepMachine(PlayRequest& r, unsigned number) {
  // A step that succeeds leaves the failure chain as it found it: what failed inside it was
  // recovered from (a reader that did not take the file, a stop).
  const std::size_t mark = platform::FailureChainMark();
  const Result result = RunStep(r, number);
  if (result == kOk) platform::RewindFailureChain(mark);
  return result;
}

}  // namespace lumaro::engine
