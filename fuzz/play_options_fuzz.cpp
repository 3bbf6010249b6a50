// ParsePlayOptions on arbitrary words (the input split at NUL bytes): it answers a usage problem
// or options, never more files than words.
#include "fuzz/fuzz_support.h"
#include "shell/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumaro;
  const std::vector<std::string> args = fuzz::SplitAtNul(data, size);
  shell::PlayOptions options;
  const std::optional<std::string> problem = shell::ParsePlayOptions(args, &options);
  if (problem && problem->empty()) fuzz::Fail("an empty usage problem");
  if (!problem && options.files.size() + options.settings.size() > args.size()) {
    fuzz::Fail("more files and settings than words");
  }
  if (!problem && options.output.empty()) fuzz::Fail("no output path");
  return 0;
}
