#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace lumaro::testing {

struct ProcessRun {
  int status = -1;  // the exit status; -1 when killed by a signal or by the time limit
  std::vector<std::string> lines;  // standard output, by lines
  std::string output;              // standard output, every byte
};

// Runs `argv` (no shell) with standard input from nowhere and standard error thrown away, and
// collects its standard output. `onLine` sees each line as it comes (it may signal the
// process). A process still running after `seconds` is killed, so a hanging program fails its
// test instead of hanging it.
ProcessRun RunProcess(const std::vector<std::string>& argv, int seconds = 120,
                      const std::function<void(pid_t, const std::string&)>& onLine = {});

// The descriptors (on Windows, handles) this process holds open: a call that leaves one behind
// shows in the difference.
int OpenHandleCount();

// True when this process has no child left, running or (on POSIX) unreaped.
bool NoChildLeft();

}  // namespace lumaro::testing
