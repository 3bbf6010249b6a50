#pragma once

#include <string_view>

#include "context/app_context.h"
#include "resources/control_ids.h"

namespace lumaro::context {

// Writes `text` into the main window's status line when the window exists (any thread).
inline void ShowStatus(const AppContext& app, std::u16string_view text) {
  if (platform::ui::Dialog* window = app.MainWindow.Load()) {
    window->SetText(resources::kIdStatusLine, text);
  }
}

}  // namespace lumaro::context
