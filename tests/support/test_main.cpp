// The entry of every test program. A reader under test that starts the running program as its
// FM-music child ("/FMPMD" and the track) starts the test program itself: it must end at once
// with no output, as a player without the FM-music libraries does, instead of running the tests
// again (which would start children of its own).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <strings.h>

#include "tests/support/census.h"

int main(int argc, char** argv) {
  if (argc > 2 && ::strcasecmp(argv[1], "/FMPMD") == 0) return 0;
    // ALSA reads an empty configuration in the tests and in every program they start, so nothing
    // plays to the machine's sound cards and nothing depends on them; the ALSA tests name their
    // own configuration of test devices.
#ifndef _WIN32
  ::setenv("ALSA_CONFIG_PATH", "/dev/null", 1);
#endif
  ::testing::InitGoogleMock(&argc, argv);
  lumaro::testing::InstallCensus();
  return RUN_ALL_TESTS();
}
