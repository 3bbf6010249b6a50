#include "app/driver_lists.h"

namespace lumaro::app {

std::unique_ptr<context::StringList> ListAsioDrivers(const context::AppContext& app) {
  (void)app;
  return nullptr;
}

std::unique_ptr<context::StringList> AsioRates(const context::AppContext& app,
                                               std::u16string_view name) {
  (void)app;
  (void)name;
  return nullptr;
}

}  // namespace lumaro::app
