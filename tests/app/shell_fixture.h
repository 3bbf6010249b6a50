#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/init_settings.h"
#include "context/app_context.h"
#include "platform/headless/headless_dialog.h"
#include "platform/services.h"
#include "platform/sim/sim_endpoints.h"
#include "tests/support/temp_tree.h"

namespace lumaro::testing {

// An AppContext over two simulated endpoints, "Speakers" (every format) and "Line" (exclusive
// 48 kHz 24-bit only), with the settings initialised for a program in a temporary directory.
struct ShellFixture {
  ShellFixture() {
    platform::sim::SimEndpointScript line;
    line.name = u"Line";
    line.accepts = [](platform::sim::ShareMode mode, const platform::sim::WaveFormat& format) {
      return mode == platform::sim::ShareMode::kExclusive && format.samplesPerSec == 48000 &&
             format.validBitsPerSample == 24 && format.bitsPerSample == 24;
    };
    platform::sim::SimSystemScript script;
    script.endpoints = {{.name = u"Speakers"}, line};
    endpoints = std::make_unique<platform::sim::SimEndpointSystem>(script);
    services.endpoints = endpoints.get();
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

// The entries of a list (empty when there is none).
inline std::vector<std::u16string> Entries(const context::StringList* list) {
  std::vector<std::u16string> entries;
  for (std::int32_t i = 0; list != nullptr && i < list->Count(); ++i) {
    entries.push_back(*list->Entry(i));
  }
  return entries;
}

}  // namespace lumaro::testing
