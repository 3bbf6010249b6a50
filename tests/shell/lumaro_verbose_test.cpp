// lumaro --verbose as a process: the chain of failing calls on standard error, and the same
// status lines and exit status as without it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/audio_files.h"

namespace lumaro::testing {
namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs lumaro on `file` with standard output and error captured in files of `dir`, the File
// output writing to `output` (default: "out.wav" in `dir`).
Outcome Lumaro(const TempDir& dir, const std::string& file, bool verbose, std::string output = "",
               const std::string& runAs = "") {
  const auto path = [&](const char16_t* name) { return platform::Utf16ToUtf8(dir.File(name)); };
  const auto text = [&](const char16_t* name) {
    const auto bytes = ReadFileBytes(dir.File(name));
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("(none)");
  };
  if (output.empty()) output = path(u"out.wav");
  const int status =
      std::system((std::string("LC_ALL=C.UTF-8 timeout 60 ") + runAs + "'" + LUMARO_PROGRAM + "'" +
                   (verbose ? " --verbose" : "") + " --once --fast --output '" + output + "' '" +
                   file + "' </dev/null >'" + path(u"out.txt") + "' 2>'" + path(u"err.txt") + "'")
                      .c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text(u"out.txt"), text(u"err.txt")};
}

TEST(LumaroVerboseTest, PrintsEachFailedPlaybacksChainAndChangesNothingElse) {
  TempDir dir;
  const Bytes tone = MakeWav({}, PackLe(std::vector<std::int64_t>(2 * 4410, 1000), 16));
  ASSERT_TRUE(WriteFileBytes(dir.File(u"tone.wav"), tone));
  // A format tag no reader knows: the built-in reader's refusal is the innermost cause.
  ASSERT_TRUE(WriteFileBytes(dir.File(u"odd.wav"), MakeWav({.formatTag = 0x1234}, Bytes(64))));
  const auto path = [&](const char16_t* name) { return platform::Utf16ToUtf8(dir.File(name)); };
  for (const char16_t* pipe : {u"pipe.wav", u"pipe.m3u8"}) {
    ASSERT_EQ(::mkfifo(path(pipe).c_str(), 0600), 0);
  }
  // Lists that name themselves, a directory, a path that is not UTF-8, and 100,000 entries ending
  // in a missing one: each ends at once with its text (a byte that is not UTF-8 is shown as
  // U+FFFD).
  const auto list = [&](const char16_t* name, const std::string& text) {
    EXPECT_TRUE(WriteFileBytes(dir.File(name), Bytes(text.begin(), text.end())));
  };
  list(u"self.m3u8", path(u"self.m3u8") + "\n");
  list(u"dir.m3u8", platform::Utf16ToUtf8(dir.Path()) + "\n");
  list(u"utf8.m3u8", path(u"tone.wav").substr(0, path(u"tone.wav").size() - 8) + "\xff.wav\n");
  std::string many;
  for (int i = 0; i < 100'000; ++i) many += path(u"tone.wav") + "\n";
  list(u"many.m3u8", many + path(u"gone.wav"));
  struct Case {
    std::string file;
    int status;
    std::string outermost;  // empty: nothing on standard error
    std::string innermost;
  };
  const Case cases[] = {
      {path(u"tone.wav"), 0, "", ""},
      {path(u"odd.wav"), 1, "no reader took the file [0x4107] " + path(u"odd.wav") + ": ",
       ": WAV format not supported [0x4209]\n"},
      {path(u"none.wav"), 1, "path not found [0x4101] " + path(u"none.wav"), "\n"},
      // A pipe with no writer, as a track or as a play list, is refused at once, before anything
      // could wait on it.
      {path(u"pipe.wav"), 1,
       "not a regular file (a pipe, socket or device) [0x4109] " + path(u"pipe.wav"), "\n"},
      {path(u"pipe.m3u8"), 1, "play list read failed [0x1103] " + path(u"pipe.m3u8"),
       ": play list not a regular file (a pipe, socket or device) [0x1110]\n"},
      {path(u"self.m3u8"), 1, "no reader took the file [0x4107] " + path(u"self.m3u8"),
       ": WAV RIFF header bad [0x4203]\n"},
      {path(u"dir.m3u8"), 1, "path is a directory [0x4102] " + platform::Utf16ToUtf8(dir.Path()),
       "\n"},
      {path(u"utf8.m3u8"), 1, "play list read failed [0x1103] " + path(u"utf8.m3u8"),
       ": play-list entry missing [0x3611] line 1 \"" +
           path(u"tone.wav").substr(0, path(u"tone.wav").size() - 8) + "\xEF\xBF\xBD.wav\"\n"},
      {path(u"many.m3u8"), 1, "play list read failed [0x1103] " + path(u"many.m3u8"),
       " line 100001 \"" + path(u"gone.wav") + "\"\n"},
  };
  for (const Case& c : cases) {
    const Outcome quiet = Lumaro(dir, c.file, false);
    const Outcome verbose = Lumaro(dir, c.file, true);
    EXPECT_EQ(quiet.status, c.status) << c.file;
    EXPECT_EQ(verbose.status, c.status) << c.file;
    EXPECT_EQ(verbose.out, quiet.out);
    EXPECT_EQ(quiet.err, "");
    if (c.outermost.empty()) {
      EXPECT_EQ(verbose.err, "");
    } else {
      EXPECT_TRUE(verbose.err.starts_with("lumaro: playback failed: " + c.outermost))
          << verbose.err;
      EXPECT_TRUE(verbose.err.ends_with(c.innermost)) << verbose.err;
    }
  }
}

// An output file that cannot be made or written is named with the system's reason.
TEST(LumaroVerboseTest, AFailedOutputFileIsNamedWithTheSystemsReason) {
  TempDir dir;
  const std::string tone = platform::Utf16ToUtf8(
      dir.Write(u"tone.wav", MakeWav({}, PackLe(std::vector<std::int64_t>(200, 1000), 16))));
  const std::string missing = platform::Utf16ToUtf8(dir.File(u"none/out.wav"));
  const std::string directory = platform::Utf16ToUtf8(dir.Path());
  const std::pair<std::string, std::string> cases[] = {
      {missing, "File output open failed [0x2501] " + missing + ": No such file or directory\n"},
      {directory, "File output open failed [0x2501] " + directory + ": Is a directory\n"},
      {"/dev/full", "File output write failed [0x2502] /dev/full: No space left on device\n"},
  };
  for (const auto& [output, innermost] : cases) {
    const Outcome run = Lumaro(dir, tone, true, output);
    EXPECT_EQ(run.status, 1) << output;
    EXPECT_TRUE(run.out.ends_with("DEVICE ERROR: Initialize failed\n")) << run.out;
    EXPECT_TRUE(run.err.ends_with(innermost)) << run.err;
  }
}

// A file the user may not read fails as before, and --verbose says why. The permission is taken
// from an ordinary user; the superuser runs the player as "nobody" to meet it.
TEST(LumaroVerboseTest, AnUnreadableTrackIsNamedWithTheSystemsReason) {
  TempDir dir;
  const std::string tone = platform::Utf16ToUtf8(
      dir.Write(u"tone.wav", MakeWav({}, PackLe(std::vector<std::int64_t>(200, 1000), 16))));
  ASSERT_EQ(::chmod(platform::Utf16ToUtf8(dir.Path()).c_str(), 0755), 0);
  ASSERT_EQ(::chmod(tone.c_str(), 0), 0);
  const std::string runAs =
      ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  if (!runAs.empty() && std::system((runAs + "true").c_str()) != 0) {
    GTEST_SKIP() << "the superuser cannot run a program as another user here";
  }
  const Outcome run = Lumaro(dir, tone, true, "/dev/null", runAs);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.ends_with("ERROR: read failed\n")) << run.out;
  EXPECT_NE(run.err.find("file cannot be opened [0x410a] " + tone + ": Permission denied: "),
            std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace lumaro::testing
