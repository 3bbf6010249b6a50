// The FM-music child against the stand-in libraries (tests/support/fm_standin.cpp): the frames it
// writes, the calls it makes, and the lumaro program itself run as the child.
#include "app/fm_child.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "decode/byte_order.h"
#include "platform/os.h"
#include "platform/text.h"
#include "tests/support/process.h"
#include "tests/support/temp_tree.h"

namespace lumaro::app {
namespace {

using platform::Utf16ToUtf8;

constexpr std::int64_t kFade3s = 15 * 8820;
constexpr std::int64_t kFade10s = 50 * 8820;

enum class Standin { kFull, kNoFade, kNoRate, kOldVersion, kNone, kDirectory, kNotALibrary };

// Puts `standin` into the tree's directory "program" as the library `name`.
void Install(const testing::TempTree& tree, Standin standin, std::u16string_view name) {
  const char* built[] = {LUMARO_FM_STANDIN, LUMARO_FM_STANDIN_NO_FADE, LUMARO_FM_STANDIN_NO_RATE,
                         LUMARO_FM_STANDIN_OLD};
  const std::string target =
      Utf16ToUtf8(tree.Dir(u"program") + u"/" + platform::ModuleFileName(name));
  if (standin == Standin::kDirectory) {
    std::filesystem::create_directory(target);
  } else if (standin == Standin::kNotALibrary) {
    std::ofstream(target) << "length=100";
  } else if (standin != Standin::kNone) {
    std::filesystem::copy_file(built[static_cast<int>(standin)], target);
  }
}

// A copy of the program (lumaro, or lumaro-cli.exe on Windows) in the tree's directory "program",
// under its own name; answers its path.
std::string CopyProgram(const testing::TempTree& tree) {
  const std::filesystem::path built(LUMARO_PROGRAM);
  const std::filesystem::path copy = std::filesystem::path(tree.Dir(u"program")) / built.filename();
  std::filesystem::copy_file(built, copy);
  return Utf16ToUtf8(copy.u16string());
}

struct ChildOutput {
  Result result;
  std::string pcm;
};

// Runs the child in this process with `args` after the program's name; an empty argument stands
// for the piece's path. With `refuse` every write fails.
ChildOutput RunChild(const testing::TempTree& tree, std::u16string_view piece,
                     std::vector<std::u16string> args, bool refuse = false) {
  auto app = std::make_unique<context::AppContext>();
  for (std::u16string& arg : args) arg = arg.empty() ? std::u16string(piece) : arg;
  args.insert(args.begin(), u"lumaro");
  app->ArgVector = args;
  ChildOutput out;
  out.result = RunFmChild(*app, tree.Path(u"program"), [&](const void* bytes, std::uint64_t n) {
    if (!refuse) out.pcm.append(static_cast<const char*>(bytes), n);
    return !refuse;
  });
  return out;
}

// Whether `pcm` is exactly `frames` frames of the stand-in's signal: frame i is (i, -i).
::testing::AssertionResult IsCountingSignal(const std::string& pcm, std::int64_t frames) {
  if (pcm.size() != static_cast<std::size_t>(frames) * 4) {
    return ::testing::AssertionFailure() << pcm.size() << " bytes";
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(pcm.data());
  for (std::int64_t i = 0; i < frames; ++i) {
    const auto left = decode::LoadLe<std::int16_t>(bytes + 4 * i);
    const auto right = decode::LoadLe<std::int16_t>(bytes + 4 * i + 2);
    if (left != static_cast<std::int16_t>(i) || right != static_cast<std::int16_t>(-i)) {
      return ::testing::AssertionFailure() << "frame " << i << " is " << left << ", " << right;
    }
  }
  return ::testing::AssertionSuccess();
}

struct FrameCase {
  const char* name;
  const char* piece = "";  // the piece file's text
  std::int64_t frames = 0;
  Result result = kOk;
  Standin standin = Standin::kFull;
  std::u16string_view library = u"PMDWin";
  std::u16string_view file = u"piece.m";
  std::vector<std::u16string> args = {u"/FMPMD", u"", u"1", u"0"};
};

TEST(FmChildTest, WritesThePieceItsLoopAndTheFadeOrNothing) {
  using enum Standin;
  const std::vector<std::u16string> lowerCase = {u"/fmpmd", u"", u"0", u"0"};
  const FrameCase cases[] = {
      {"piece, loop, 10 s fade", "length=1000 loop=500", 66150 + kFade10s},
      {"no loop: 3 s fade", "length=1000 loop=0", 44100 + kFade3s},
      {"more frames than 2^31 / 1000", "length=60000 loop=20000", 3528000 + kFade10s},
      {"a length sum past 32 bits wraps", "length=2147483647 loop=1", kFade10s},
      {"no fade entry point", "length=1000 loop=500", 66150, kOk, kNoFade},
      {"WinFMP, capitals", "length=100", 4410 + kFade3s, kOk, kFull, u"WinFMP", u"piece.OZI"},
      {"switch in lower case", "length=100", 4410 + kFade3s, kOk, kFull, u"PMDWin", u"a.m",
       lowerCase},
      {"load code 3", "length=100 load=3", 4410 + kFade3s},
      {"load code 17", "length=100 load=17", 4410 + kFade3s},
      {"load code 1", "length=100 load=1", 0, kFmChildLoad},
      {"load code 2", "length=100 load=2", 0, kFmChildLoad},
      {"load code 18", "length=100 load=18", 0, kFmChildLoad},
      {"version 51", "length=100", 0, kFmChildVersion, kOldVersion},
      {"no output rate", "length=100", 0, kFmChildEntryMissing, kNoRate},
      {.name = "four arguments", .result = kFmChildArguments, .args = {u"/FMPMD", u"", u"1"}},
      {.name = "six arguments",
       .result = kFmChildArguments,
       .args = {u"/FMPMD", u"", u"1", u"0", u"0"}},
      {"unknown extension", "length=100", 0, kFmChildExtension, kFull, u"PMDWin", u"piece.mid"},
      {"no library", "length=100", 0, kFmChildLibraryMissing, kNone},
      {"library is a directory", "", 0, kFmChildLibraryMissing, kDirectory},
      {"WinFMP piece, PMDWin only", "", 0, kFmChildLibraryMissing, kFull, u"PMDWin", u"a.ovi"},
      {"not a library", "", 0, kFmChildLibraryLoad, kNotALibrary},
      // A character neither the C locale's ASCII nor a Western Windows code page holds.
      {"outside the code page", "", 0, kFmChildAnsiPath, kFull, u"PMDWin", u"\u97F3.m"},
  };
  for (const FrameCase& c : cases) {
    testing::TempTree tree;
    Install(tree, c.standin, c.library);
    const ChildOutput out = RunChild(tree, tree.File(c.file, c.piece), c.args);
    EXPECT_EQ(out.result, c.result) << c.name;
    EXPECT_TRUE(IsCountingSignal(out.pcm, c.frames)) << c.name;
  }
}

struct LogCase {
  std::u16string_view library;
  std::u16string_view file;
  std::vector<std::u16string> switches;  // PPS, SSG+RHY
  bool refuse;                           // every write fails
  Result result;
  const char* log;  // "%" stands for the piece's path, "line*N" for N such lines
};

TEST(FmChildTest, DrivesEachLibraryWithItsOwnCallsAndStopsAfterStarting) {
  const LogCase cases[] = {
      {u"PMDWin", u"piece.m2", {u"2", u"0"}, false, kOk, R"(getversion
getinterfaceversion
pmdwininit null
setpcmdir 0
setpcmrate 44100
setfmcalc55k 1
setppzinterpolation 1
setppsuse 1
setrhythmwithssgeffect 0
setppsinterpolation 1
setp86interpolation 1
music_load %
getlength %
setfmvoldown 18
setssgvoldown 0
setrhythmvoldown 18
setadpcmvoldown 18
setppzvoldown 18
music_start
getpcmdata 4410
fadeout2 3000
getpcmdata 8820*15
music_stop)"},
      {u"WinFMP", u"piece.opi", {u"0", u"1"}, true, kFmChildWrite, R"(fmp_getversion
fmp_getinterfaceversion
fmp_init null
fmp_setpcmdir 0
fmp_setpcmrate 44100
fmp_setfmcalc55k 1
fmp_setppzinterpolation 1
fmp_load %
fmp_getlength %
fmp_start
fmp_getpcmdata 4410
fmp_stop)"},
  };
  for (const LogCase& c : cases) {
    testing::TempTree tree;
    Install(tree, Standin::kFull, c.library);
    const std::u16string piece =
        tree.File(c.file, "length=100 log=" + Utf16ToUtf8(tree.Path(u"calls")));
    const ChildOutput out =
        RunChild(tree, piece, {u"/FMPMD", u"", c.switches[0], c.switches[1]}, c.refuse);
    EXPECT_EQ(out.result, c.result);
    std::vector<std::string> expected, calls;
    std::istringstream expectedText(c.log), callsText(testing::TempTree::Read(tree.Path(u"calls")));
    for (std::string line; std::getline(expectedText, line);) {
      if (line.find('%') != std::string::npos) line.replace(line.find('%'), 1, Utf16ToUtf8(piece));
      const std::size_t star = line.find('*');
      const int count = star == std::string::npos ? 1 : std::stoi(line.substr(star + 1));
      expected.insert(expected.end(), count, line.substr(0, star));
    }
    for (std::string line; std::getline(callsText, line);) calls.push_back(line);
    EXPECT_THAT(calls, ::testing::ElementsAreArray(expected)) << Utf16ToUtf8(c.library);
  }
}

// The real program in child mode, with a stand-in beside it: standard output holds the PCM and
// nothing else.
TEST(FmChildTest, LumaroProgramWritesOnlyThePcm) {
  testing::TempTree tree;
  Install(tree, Standin::kFull, u"PMDWin");
  const std::string program = CopyProgram(tree);
  const std::string piece = Utf16ToUtf8(tree.File(u"piece.m", "length=100"));
  const testing::ProcessRun run = testing::RunProcess({program, "/FMPMD", piece, "1", "0"}, 60);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(IsCountingSignal(run.output, 4410 + kFade3s));
}

// The parent side: the lumaro program plays a piece through its own child copy and the File
// output receives every frame of the library's signal.
TEST(FmChildTest, LumaroPlaysAPieceThroughItsChildCopy) {
  struct Case {
    const char* piece;
    const char16_t* file;
    std::int64_t frames;  // 0: the read fails
    const char* lastLine;
  } const cases[] = {
      {"length=100", u"piece.m", 4410 + kFade3s, "Decode: 16bit 44100Hz - Out: 32/32bit 44100Hz"},
      {"length=100 loop=100", u"piece.OVI", 8820 + kFade10s, "Decode: 16bit 44100Hz - Out: "},
      {"length=100 load=2", u"piece.mz", 0, "ERROR: read failed"},
  };
  testing::TempTree tree;
  Install(tree, Standin::kFull, u"PMDWin");
  Install(tree, Standin::kFull, u"WinFMP");
  const std::string program = CopyProgram(tree);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.piece);
    const std::string out = Utf16ToUtf8(tree.Path(u"out.wav"));
    std::filesystem::remove(out);
    const testing::ProcessRun run =
        testing::RunProcess({program, "--once", "--fast", "--rate", "44100", "--output", out,
                             Utf16ToUtf8(tree.File(c.file, c.piece))},
                            60);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_TRUE(run.lines.back().starts_with(c.lastLine)) << run.lines.back();
    EXPECT_EQ(run.status, c.frames == 0 ? 1 : 0);
    if (c.frames == 0) continue;
    std::ifstream file(out, std::ios::binary);
    const std::string wav((std::istreambuf_iterator<char>(file)), {});
    const std::size_t data = wav.find("data");
    ASSERT_NE(data, std::string::npos);
    std::string pcm;  // the library's 16-bit samples, from the full-scale 32-bit words
    for (std::size_t at = data + 8; at + 4 <= wav.size(); at += 4) {
      const auto word =
          decode::LoadLe<std::int32_t>(reinterpret_cast<const unsigned char*>(wav.data()) + at);
      const auto sample = static_cast<std::int16_t>(std::lround(word / 2147483647.0 * 32768.0));
      pcm.append({static_cast<char>(sample & 0xFF), static_cast<char>(sample >> 8)});
    }
    pcm.resize(static_cast<std::size_t>(c.frames) * 4);
    EXPECT_TRUE(IsCountingSignal(pcm, c.frames));
  }
}

}  // namespace
}  // namespace lumaro::app
