#include "app/driver_lists.h"

namespace lumaro::app {

std::unique_ptr<StringList> ListAsioDrivers(const AppContext& app) {
  (void)app;
  return nullptr;
}

std::unique_ptr<StringList> AsioRates(const AppContext& app, std::u16string_view name) {
  (void)app;
  (void)name;
  return nullptr;
}

}  // namespace lumaro::app
