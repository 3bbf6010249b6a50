#pragma once

#include <string_view>

namespace lumaro::testing {

// The census of what the program shows. While LUMARO_CENSUS_DIR names a directory, every text a
// test makes the program show on its status line (through any HeadlessDialog of the test
// program, or as a line of a program the test runs) is written there when the test ends, as
// lines "Suite.Test<TAB>text" in a file of this process. The census check
// (tests/census_check.cpp) reads them after the whole suite ran. Without the variable nothing is
// recorded.

// Installs the recording; from the test program's main, before the tests run.
void InstallCensus();

// A text seen by the running test (UTF-8). Any thread.
void CensusSee(std::string_view text);

}  // namespace lumaro::testing
