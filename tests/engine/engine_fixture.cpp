#include "tests/engine/engine_fixture.h"

#include "engine/playback_thread.h"
#include "engine/step_machine.h"
#include "resources/control_ids.h"
#include "tests/support/audio_slot.h"

namespace lumaro::testing {

namespace {

enum : Result { kErrFakeDecode = 0xF001, kErrFakeFeed };

Result FakeDecode(context::PlayRequest& r, const FakeTrack& t) {
  if (t.fail) {
    engine::ShowStatus(r, u"ERROR: read failed");
    return kErrFakeDecode;
  }
  r.Buffer = t.isDsd != 0 ? DsdSlot(t.rate, t.frames, static_cast<unsigned char>(t.value))
                          : AudioSlot(t.rate, t.frames, Flat(t.value));
  if (r.Buffer.Empty()) return kErrFakeDecode;
  r.IsDsd = t.isDsd;
  r.DecodedKind = context::kKindInteger;
  r.DecodedBits = t.bits;
  r.DecodedRate = t.rate;
  return kOk;
}

}  // namespace

EngineTest::EngineTest() {
  services_.clock = &clock_;
  app_.Services = &services_;
  app_.MainWindow = &window_;
  steps_.decode = [this](context::PlayRequest& r) {
    recorder_.Add("decode " + Utf8(*r.TrackPath));
    const auto found = tracks_.find(*r.TrackPath);
    return FakeDecode(r, found == tracks_.end() ? FakeTrack{} : found->second);
  };
  steps_.readPlaylist = [this](std::u16string_view path, const platform::StopWord&) {
    recorder_.Add("read " + Utf8(path));
    const auto found = playlists_.find(std::u16string(path));
    std::unique_ptr<context::StringList> list;
    if (found == playlists_.end()) return list;
    list = context::NewStringList();
    for (const auto& entry : found->second) EXPECT_EQ(list->Append(entry), kOk);
    return list;
  };
  EndpointStep(context::Step::kCreateEndpointEnumerator) =
      [this](context::PlayRequest& r) -> Result {
    recorder_.Add("play " + std::to_string(app_.CurrentTrack.Load()));
    if (onFeed_) onFeed_(r);
    FeedAction action;
    if (!feed_.empty()) {
      action = feed_.front();
      feed_.pop_front();
    }
    if (!action.failText.empty()) {
      engine::ShowStatus(r, action.failText);
      return kErrFakeFeed;
    }
    app_.RequestedTrack = action.requested;
    app_.PlayCommand = action.command;
    return kOk;
  };
}

std::unique_ptr<context::PlayRequest> EngineTest::MakeRequest(
    const std::vector<std::u16string>& paths, std::u16string device, std::u16string rate) {
  auto request = std::make_unique<context::PlayRequest>();
  request->App = &app_;
  request->Device = std::move(device);
  request->Rate = std::move(rate);
  request->Paths = context::NewStringList();
  for (const auto& path : paths) EXPECT_EQ(request->Paths->Append(path), kOk);
  request->Steps = &steps_;
  return request;
}

}  // namespace lumaro::testing
