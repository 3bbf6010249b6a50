// The readers that run an outside program, against that program alone on the same file in the
// same run: the FFmpeg reader (child, pipe, collection and parse) beside
// `ffmpeg -v quiet -i F -vn -acodec pcm_f64le -ac 2 -f wav - > /dev/null`, on a five-minute
// 44.1 kHz FLAC and a five-minute 320 kbit/s MP3 made with that program at the start. Wall time
// is what a listener waits for; the reader's peak resident memory beyond the decoded size is
// reported as extra_MiB (the goal: at most the decoded size + 32 MiB).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "decode/ffmpeg_reader.h"
#include "decode/outside_components.h"
#include "dsp/audio_buffer.h"
#include "platform/os.h"
#include "platform/text.h"

extern char** environ;

namespace {

using namespace lumaro;

constexpr std::uint64_t kTrackSeconds = 300;
constexpr std::uint64_t kRate = 44100;
constexpr double kDecodedMiB = kTrackSeconds * kRate * 16.0 / (1 << 20);

std::string Ffmpeg() {
  return platform::Utf16ToUtf8(platform::ExecutableDirectory() + u"/" + decode::FfmpegFileName());
}

// Runs `argv` with standard output to /dev/null; true when it exits with 0.
bool RunToNull(const std::vector<std::string>& words) {
  std::vector<char*> argv;
  std::vector<std::string> copy = words;
  for (std::string& w : copy) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return started && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// The five-minute test file with `extension`, encoded once per process from a generated tone
// mix, removed at exit.
const std::string& Track(const std::string& extension) {
  static std::string paths[2];
  std::string& path = paths[extension == "mp3"];
  if (!path.empty()) return path;
  path = "/tmp/lumaro-bench-child-" + std::to_string(::getpid()) + "." + extension;
  std::vector<std::string> args = {
      Ffmpeg(), "-v",    "quiet", "-y",
      "-f",     "lavfi", "-i",    "sine=f=440:d=300:r=44100,aformat=channel_layouts=stereo"};
  if (extension == "mp3") args.insert(args.end(), {"-b:a", "320k"});
  args.push_back(path);
  if (!RunToNull(args)) path.clear();
  return path;
}

std::uint64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

void ResetPeakResident() {
  if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

const char* const kExtensions[] = {"flac", "mp3"};

void BM_FfmpegReader(benchmark::State& state) {
  const std::string& path = Track(kExtensions[state.range(0)]);
  if (path.empty()) return state.SkipWithError("no ffmpeg beside the benchmark");
  platform::StopWord stop;
  double extraMiB = 0;
  for (auto _ : state) {
    dsp::BufferSlot slot;
    ResetPeakResident();
    const double before = static_cast<double>(PeakResidentBytes()) / (1 << 20);
    if (decode::ReadWithFfmpeg(platform::Utf8ToUtf16(path), slot, stop) != kOk) {
      return state.SkipWithError("the reader failed");
    }
    extraMiB = static_cast<double>(PeakResidentBytes()) / (1 << 20) - before - 2 * kDecodedMiB;
  }
  state.SetLabel(kExtensions[state.range(0)]);
  state.counters["extra_MiB"] = extraMiB;
}
BENCHMARK(BM_FfmpegReader)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_FfmpegToNull(benchmark::State& state) {
  const std::string& path = Track(kExtensions[state.range(0)]);
  if (path.empty()) return state.SkipWithError("no ffmpeg beside the benchmark");
  for (auto _ : state) {
    if (!RunToNull({Ffmpeg(), "-v", "quiet", "-i", path, "-vn", "-acodec", "pcm_f64le", "-ac", "2",
                    "-f", "wav", "-"})) {
      return state.SkipWithError("ffmpeg failed");
    }
  }
  state.SetLabel(kExtensions[state.range(0)]);
}
BENCHMARK(BM_FfmpegToNull)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  for (const char* extension : kExtensions) std::remove(Track(extension).c_str());
  benchmark::Shutdown();
  return 0;
}
