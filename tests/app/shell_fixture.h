#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/init_settings.h"
#include "context/app_context.h"
#include "platform/headless/headless_dialog.h"
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

}  // namespace lumaro::testing
