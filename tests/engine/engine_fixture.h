#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "context/app_context.h"
#include "context/play_request.h"
#include "context/step_table.h"
#include "engine/playback_thread.h"
#include "platform/headless/headless_dialog.h"
#include "platform/services.h"
#include "tests/support/audio_files.h"
#include "tests/support/fake_clock.h"

namespace lumaro::testing {

// What the decode stub delivers for one path.
struct FakeTrack {
  std::uint32_t isDsd = 0;
  std::uint32_t bits = 16;
  std::uint32_t rate = 44100;
  std::uint64_t frames = 4;  // frames, or bytes per channel for DSD
  double value = 0.25;       // every sample (PCM), or every byte (DSD) as an integer
  bool fail = false;
};

// What the feeding stub (step 10) does when a track reaches the device: set PlayCommand (and
// RequestedTrack for a jump), or fail with a text.
struct FeedAction {
  std::uint32_t command = context::kCommandStop;
  std::uint32_t requested = 0;
  std::u16string failText;  // non-empty: write it and fail
};

// Thread-safe list of what the stubs saw, in order.
class Recorder {
 public:
  void Add(std::string entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::string> Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

// An AppContext, a headless main window and recording stubs for the steps other components
// provide: decode (step 8), the play-list reader (step 3) and the device (from step 10).
class EngineTest : public ::testing::Test {
 protected:
  EngineTest();

  // A request as the main window makes it for a drop of `paths`.
  std::unique_ptr<context::PlayRequest> MakeRequest(const std::vector<std::u16string>& paths,
                                                    std::u16string device = u"W: Test",
                                                    std::u16string rate = u"Auto");
  // Runs a whole playback of `paths` on this thread and answers its result.
  Result Play(const std::vector<std::u16string>& paths, std::u16string device = u"W: Test",
              std::u16string rate = u"Auto") {
    return engine::RunPlayback(MakeRequest(paths, std::move(device), std::move(rate)));
  }
  std::vector<std::u16string> Statuses() const { return window_.TextHistory(2003); }
  // Decode and feed entries of the recorder as "decode <path>" / "play <track>".
  std::vector<std::string> Log() const { return recorder_.Entries(); }

  context::AppContext app_;
  FakeClock clock_;
  platform::Services services_;
  platform::ui::HeadlessDialog window_;
  // The endpoint family's handler of `step`.
  context::StepHandler& EndpointStep(context::Step step) {
    return steps_.Handler(context::DeviceFamily::kEndpoint, step);
  }
  context::StepTable steps_;
  Recorder recorder_;
  std::map<std::u16string, FakeTrack> tracks_;                       // default FakeTrack if absent
  std::map<std::u16string, std::vector<std::u16string>> playlists_;  // absent: read fails
  std::deque<FeedAction> feed_;                                      // empty: stop
  // Called by the feeding stub with the request before it acts (inspect the joined buffer).
  std::function<void(context::PlayRequest&)> onFeed_;
};

}  // namespace lumaro::testing
