#include "tests/support/census.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <string>

#include "platform/headless/headless_dialog.h"
#include "platform/text.h"
#include "resources/control_ids.h"

namespace lumaro::testing {
namespace {

std::string censusDirectory;  // empty: no census; written once, before the tests run
std::mutex lock;
std::set<std::string> seen;  // by the running test
std::string running;         // "Suite.Test"

void SeeStatusLine(platform::ui::ControlId id, std::u16string_view text) {
  if (id == resources::kIdStatusLine && !text.empty()) CensusSee(platform::Utf16ToUtf8(text));
}

// Starts each test's account and writes it when the test ends.
class CensusListener : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& test) override {
    const std::lock_guard<std::mutex> hold(lock);
    running = std::string(test.test_suite_name()) + "." + test.name();
    seen.clear();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    const std::lock_guard<std::mutex> hold(lock);
    if (seen.empty()) return;
    std::string file = running;  // a parameterised test's name holds '/'
    std::replace(file.begin(), file.end(), '/', '_');
    std::ofstream out(censusDirectory + "/" + file + ".txt", std::ios::app);
    for (const std::string& text : seen) out << running << '\t' << text << '\n';
    out.flush();
    if (!out)
      std::fprintf(stderr, "census: cannot write %s in %s\n", file.c_str(),
                   censusDirectory.c_str());
    seen.clear();
  }
};

}  // namespace

void InstallCensus() {
  const char* directory = std::getenv("LUMARO_CENSUS_DIR");
  if (directory == nullptr || *directory == '\0') return;
  censusDirectory = directory;
  platform::ui::HeadlessDialog::SetTextTap(SeeStatusLine);
  ::testing::UnitTest::GetInstance()->listeners().Append(new CensusListener);
}

void CensusSee(std::string_view text) {
  if (censusDirectory.empty()) return;
  const std::lock_guard<std::mutex> hold(lock);
  seen.emplace(text);
}

}  // namespace lumaro::testing
