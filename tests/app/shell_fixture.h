#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/init_settings.h"
#include "app/process_entry.h"
#include "context/app_context.h"
#include "context/playback_gate.h"
#include "platform/headless/headless_dialog.h"
#include "platform/os.h"
#include "platform/services.h"
#include "tests/support/sim_endpoints.h"
#include "tests/support/string_list.h"
#include "tests/support/temp_tree.h"

namespace lumaro::testing {

// An AppContext over two simulated endpoints, "Speakers" (every format) and "Line" (exclusive
// 48 kHz 24-bit only), with the settings initialised for a program in a temporary directory.
struct ShellFixture {
  ShellFixture() {
    const auto line = [](platform::sim::ShareMode mode, const platform::sim::WaveFormat& format) {
      return mode == platform::sim::ShareMode::kExclusive && format.samplesPerSec == 48000 &&
             format.validBitsPerSample == 24 && format.bitsPerSample == 24;
    };
    UseSimEndpoints(services, endpoints,
                    {.endpoints = {SimEndpoint(u"Speakers"), SimEndpoint(u"Line", line)}});
    app.Services = &services;
    program = tree.File(u"lumaro", "");
  }

  [[nodiscard]] Result Init() { return app::InitSettings(app, program); }

  TempTree tree;
  std::u16string program;
  std::unique_ptr<platform::sim::SimEndpointSystem> endpoints;
  platform::Services services;
  context::AppContext app;
  platform::ui::HeadlessDialog dialog;
};

// Holds the playback gate as a running playback does, on a thread of its own that lets go as
// soon as it is asked to stop (or after a generous bound, so that a missing stop fails
// instead of hanging); on release waits until the stop thread has let go of the AppContext.
struct HeldGate {
  explicit HeldGate(context::AppContext& app) : app_(app) {
    EXPECT_TRUE(context::TryTakePlaybackGate());
    holder_ = std::thread([this] {
      for (int i = 0; i < kBoundMilliseconds && !Stopping(); ++i) platform::SleepMilliseconds(1);
      stopAsked_ = Stopping();
      context::ReleasePlaybackGate();
    });
  }
  ~HeldGate() { EXPECT_TRUE(StopAsked() && app::WaitForPlaybackEnd(app_, kBoundMilliseconds)); }
  // True once a stop was asked; the gate is free afterwards.
  bool StopAsked() {
    if (holder_.joinable()) holder_.join();
    return stopAsked_;
  }
  bool Stopping() const { return app_.PlayCommand.Load() == context::kCommandStop; }
  static constexpr int kBoundMilliseconds = 30000;
  context::AppContext& app_;
  std::thread holder_;
  bool stopAsked_ = false;
};

}  // namespace lumaro::testing
