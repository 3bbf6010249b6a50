// Play-list reading: lines per second for a list of existing files, and the paged byte store
// that collects a child process's output.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/read_playlist.h"
#include "dsp/paged_buffer.h"
#include "platform/text.h"

namespace {

using namespace lumaro;

// A directory with `files` small files and a play list naming them `lines` times in all.
class PlaylistFixture {
 public:
  PlaylistFixture(int files, int lines) {
    char pattern[] = "/tmp/lumaro-bench-XXXXXX";
    root_ = ::mkdtemp(pattern);
    std::ofstream list(root_ + "/list.m3u8", std::ios::binary);
    list << "#EXTM3U\r\n";
    for (int i = 0; i < lines; ++i) {
      const std::string name = root_ + "/track " + std::to_string(i % files) + ".flac";
      if (i < files) std::ofstream(name, std::ios::binary) << 'x';
      list << name << "\r\n";
    }
  }
  ~PlaylistFixture() { std::system(("rm -rf '" + root_ + "'").c_str()); }
  std::u16string List() const { return platform::Utf8ToUtf16(root_ + "/list.m3u8"); }

 private:
  std::string root_;
};

void BM_ReadPlaylist(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  PlaylistFixture fixture(1000, lines);
  const std::u16string list = fixture.List();
  platform::StopWord stop{0};
  for (auto _ : state) {
    auto read = app::ReadPlaylist(list, stop);
    if (!read || read->Count() != lines) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(read);
  }
  state.counters["lines_per_s"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadPlaylist)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_PagedBufferAppend(benchmark::State& state) {
  const std::vector<unsigned char> piece(static_cast<std::size_t>(state.range(0)), 0x5A);
  constexpr std::uint64_t kTotal = 64ULL << 20;  // 64 MiB, as a child's output might be
  for (auto _ : state) {
    auto store = dsp::PagedBuffer::Create();
    for (std::uint64_t at = 0; at < kTotal; at += piece.size()) {
      benchmark::DoNotOptimize(store->Append(piece.data(), piece.size()));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}
BENCHMARK(BM_PagedBufferAppend)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
