// The stand-in's system part on POSIX systems.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/os.h"
#include "platform/sim/component_standin.h"
#include "platform/text.h"

extern char** environ;

namespace lumaro::platform::sim::standin {

std::vector<std::u16string> Arguments(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(platform::Utf8ToUtf16(argv[i]));
  return arguments;
}

bool RunCopy(const std::u16string& script) {
  std::vector<std::string> words = {platform::Utf16ToUtf8(platform::ExecutablePath()), "-i",
                                    platform::Utf16ToUtf8(script)};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace lumaro::platform::sim::standin
