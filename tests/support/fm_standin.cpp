// A stand-in for the two FM-music libraries: one shared library that exports the entry points of
// both (app/fm_library.h), renders a counting signal and logs the calls it receives.
//
// A piece file is a line of text such as "length=1000 loop=500 load=0 log=/tmp/x/calls": the
// length and loop length in milliseconds, the code its load answers and a file the calls are
// appended to, one "name argument" a line (calls before the load are held until the log is
// known). Frame i of everything rendered since the library was loaded is (i, -i), each taken
// modulo 2^16 as a 16-bit sample. Its true answers are 3, so only their lowest bit says true.
// Initialising it prints a line on standard output, as a chatty library might.
//
// Variants: LUMARO_STANDIN_VERSION (the version it reports, 52 by default), LUMARO_STANDIN_NO_FADE
// (no fade-out), LUMARO_STANDIN_NO_PCMRATE (no output rate).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/fm_library.h"

namespace fm = lumaro::app::fm;

// Every entry point declared from the shared list, so a definition that drifts from it fails to
// compile.
#define LUMARO_STANDIN_SHARED(role, winFmp, pmdWin, type) extern "C" fm::type winFmp, pmdWin;
#define LUMARO_STANDIN_PMDWIN(role, pmdWin, type) extern "C" fm::type pmdWin;
LUMARO_FM_SHARED_ENTRIES(LUMARO_STANDIN_SHARED)
LUMARO_FM_PMDWIN_ENTRIES(LUMARO_STANDIN_PMDWIN)

#ifndef LUMARO_STANDIN_VERSION
#define LUMARO_STANDIN_VERSION 52
#endif

namespace {

constexpr std::int32_t kTrue = 3;
constexpr std::int32_t kFalse = 0;
constexpr std::int32_t kInterfaceVersion = 118;
constexpr std::int32_t kUnreadablePiece = 1;

struct Piece {
  std::int32_t lengthMs = 0, loopMs = 0, load = 0;
  std::string log;
};

std::string heldCalls;
std::string logPath;
std::uint32_t nextFrame = 0;

void Log(const char* name, const std::string& argument = {}) {
  heldCalls += std::string(name) + (argument.empty() ? "" : " " + argument) + "\n";
  if (logPath.empty()) return;
  // Binary: the test reads one call per LF-ended line, and Windows' text mode would add a CR.
  std::ofstream(logPath, std::ios::app | std::ios::binary) << heldCalls;
  heldCalls.clear();
}

bool ReadPiece(const char* path, Piece* piece) {
  std::ifstream in(path);
  if (!in) return false;
  std::string word;
  while (in >> word) {
    const std::string key = word.substr(0, word.find('='));
    const std::string value = word.substr(key.size() + (key.size() < word.size() ? 1 : 0));
    const auto number = static_cast<std::int32_t>(std::strtoll(value.c_str(), nullptr, 10));
    if (key == "length") piece->lengthMs = number;
    if (key == "loop") piece->loopMs = number;
    if (key == "load") piece->load = number;
    if (key == "log") piece->log = value;
  }
  return true;
}

std::int32_t Number(const char* name, std::int32_t value) {
  Log(name);
  return value;
}

void Value(const char* name, std::int32_t value) { Log(name, std::to_string(value)); }

std::int32_t Init(const char* name, const void* reserved) {
  Log(name, reserved == nullptr ? "null" : "pointer");
  // A chatty library: its messages must not reach the PCM the child writes.
  std::fputs("stand-in ready\n", stdout);
  std::fflush(stdout);
  return kTrue;
}

std::int32_t PcmDir(const char* name, char** directories) {
  int count = 0;
  while (directories[count] != nullptr) ++count;
  Log(name, std::to_string(count));
  return kTrue;
}

std::int32_t Load(const char* name, const char* path) {
  Piece piece;
  const bool read = ReadPiece(path, &piece);
  logPath = piece.log;
  Log(name, path);
  return read ? piece.load : kUnreadablePiece;
}

std::int32_t Length(const char* name, const char* path, std::int32_t* lengthMs,
                    std::int32_t* loopMs) {
  Piece piece;
  Log(name, path);
  if (!ReadPiece(path, &piece)) return kFalse;
  *lengthMs = piece.lengthMs;
  *loopMs = piece.loopMs;
  return kTrue;
}

// Logs "uncleared" when the area it is given still holds samples.
void Render(const char* name, std::int16_t* samples, std::int32_t frames) {
  const bool cleared = std::all_of(samples, samples + 2 * frames, [](auto s) { return s == 0; });
  Log(name, std::to_string(frames) + (cleared ? "" : " uncleared"));
  for (std::int32_t i = 0; i < frames; ++i, ++nextFrame) {
    samples[2 * i] = static_cast<std::int16_t>(nextFrame);
    samples[2 * i + 1] = static_cast<std::int16_t>(0u - nextFrame);
  }
}

}  // namespace

extern "C" {
// clang-format off
std::int32_t fmp_getversion() { return Number(__func__, LUMARO_STANDIN_VERSION); }
std::int32_t getversion() { return Number(__func__, LUMARO_STANDIN_VERSION); }
std::int32_t fmp_getinterfaceversion() { return Number(__func__, kInterfaceVersion); }
std::int32_t getinterfaceversion() { return Number(__func__, kInterfaceVersion); }
std::int32_t fmp_init(void* reserved) { return Init(__func__, reserved); }
std::int32_t pmdwininit(void* reserved) { return Init(__func__, reserved); }
std::int32_t fmp_setpcmdir(char** directories) { return PcmDir(__func__, directories); }
std::int32_t setpcmdir(char** directories) { return PcmDir(__func__, directories); }
#ifndef LUMARO_STANDIN_NO_PCMRATE
void fmp_setpcmrate(std::int32_t rate) { Value(__func__, rate); }
void setpcmrate(std::int32_t rate) { Value(__func__, rate); }
#endif
void fmp_setfmcalc55k(std::int32_t on) { Value(__func__, on); }
void setfmcalc55k(std::int32_t on) { Value(__func__, on); }
void fmp_setppzinterpolation(std::int32_t on) { Value(__func__, on); }
void setppzinterpolation(std::int32_t on) { Value(__func__, on); }
void setppsuse(std::int32_t on) { Value(__func__, on); }
void setrhythmwithssgeffect(std::int32_t on) { Value(__func__, on); }
void setppsinterpolation(std::int32_t on) { Value(__func__, on); }
void setp86interpolation(std::int32_t on) { Value(__func__, on); }
std::int32_t fmp_load(const char* path) { return Load(__func__, path); }
std::int32_t music_load(const char* path) { return Load(__func__, path); }
std::int32_t fmp_getlength(const char* path, std::int32_t* length, std::int32_t* loop) { return Length(__func__, path, length, loop); }
std::int32_t getlength(const char* path, std::int32_t* length, std::int32_t* loop) { return Length(__func__, path, length, loop); }
void setfmvoldown(std::int32_t value) { Value(__func__, value); }
void setssgvoldown(std::int32_t value) { Value(__func__, value); }
void setrhythmvoldown(std::int32_t value) { Value(__func__, value); }
void setadpcmvoldown(std::int32_t value) { Value(__func__, value); }
void setppzvoldown(std::int32_t value) { Value(__func__, value); }
void fmp_start() { Log(__func__); }
void music_start() { Log(__func__); }
void fmp_stop() { Log(__func__); }
void music_stop() { Log(__func__); }
void fmp_getpcmdata(std::int16_t* samples, std::int32_t frames) { Render(__func__, samples, frames); }
void getpcmdata(std::int16_t* samples, std::int32_t frames) { Render(__func__, samples, frames); }
#ifndef LUMARO_STANDIN_NO_FADE
void fmp_fadeout2(std::int32_t ms) { Value(__func__, ms); }
void fadeout2(std::int32_t ms) { Value(__func__, ms); }
#endif
// clang-format on
}
