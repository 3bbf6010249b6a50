#include "decode/child_run.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <new>

#include "dsp/audio_buffer.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrProgramPath = FirstCode(FailureSite::kChildRun),
  kErrProgramMissing,
  kErrInputMissing,
  kErrNoStore,
  kErrNoReadArea,
  kErrNotStarted,
  kErrNoWatchdog,
  kErrStopped,
  kErrStoreFull,
  kErrSilent,
  kErrShortStore,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kChildRun,
    kErrShortStore,
    {"program path unusable", "outside program missing", "input file missing",
     "no memory for the output store", "no memory for the read area", "child did not start",
     "no watchdog thread", "stopped while the child wrote", "output store refused bytes",
     "child silent for a whole window", "output store shorter than its frames"}};

// What the reading thread and the watchdog share. The finished flag wakes the watchdog at once
// instead of at its next tick; data-seen is polled.
struct Watch {
  std::mutex mutex;
  std::condition_variable wake;
  bool finished = false;
  std::atomic<bool> dataSeen{false};

  void Finish() {
    {
      std::lock_guard lock(mutex);
      finished = true;
    }
    wake.notify_all();
  }
  // Sleeps one tick; true when the run finished meanwhile.
  bool SleepTick(std::uint32_t milliseconds) {
    std::unique_lock lock(mutex);
    return wake.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return finished; });
  }
};

// One read takes at most this much of the pipe (its whole content, as the pipe is widened to it).
constexpr std::uint64_t kLargestRead = 1 << 20;

constexpr int kWatchdogDone = 0;
constexpr int kWatchdogEndedChild = 1;

// The watchdog: windows of ticks follow one another while output keeps arriving; a window
// without output ends the child, and so does a stop request, at the tick it is seen (the reading
// thread fails the run at its next read if output still arrives). Answers kWatchdogDone when the
// run finished first.
int WatchChild(platform::ChildProcess& child, Watch& watch, const platform::StopWord& stop,
               WatchdogTiming timing) {
  for (bool stopped = false; !stopped;) {
    watch.dataSeen.store(false, std::memory_order_relaxed);
    for (std::uint32_t tick = 0; tick < timing.ticksPerWindow; ++tick) {
      if (watch.SleepTick(timing.tickMilliseconds)) return kWatchdogDone;
      stopped = stop.Load() != 0;
      if (stopped) break;
    }
    if (!watch.dataSeen.load(std::memory_order_relaxed)) break;
  }
  if (child.Running()) child.Terminate();
  return kWatchdogEndedChild;
}

// Reads the child's output to its end straight into `store`. Where the store has no room left,
// one more read into the read area tells whether the child still had something to say.
Result CollectOutput(platform::ChildProcess& child, Watch& watch, const platform::StopWord& stop,
                     std::uint64_t pieceBytes, dsp::PagedBuffer& store) {
  child.CloseInput();
  for (;;) {
    std::uint64_t room = 0;
    unsigned char* to = store.Room(kLargestRead, &room);
    std::unique_ptr<unsigned char[]> area;
    if (to == nullptr) {
      area.reset(new (std::nothrow) unsigned char[pieceBytes]);
      if (!area) return kFailures.Note(kErrNoReadArea);
      to = area.get();
      room = pieceBytes;
    }
    const std::int64_t got = child.ReadOutput(to, room);
    if (got <= 0) return kOk;  // the child closed its output (or the pipe failed)
    watch.dataSeen.store(true, std::memory_order_relaxed);
    if (stop.Load() != 0) return kFailures.Note(kErrStopped);
    if (area) return kFailures.Note(kErrStoreFull);
    store.Commit(static_cast<std::uint64_t>(got));
  }
}

// The child and its watchdog: the output is collected while the watchdog runs; the watchdog's
// verdict overrules a collection that looked complete.
Result RunWatched(platform::ChildProcess& child, const platform::StopWord& stop,
                  std::uint64_t pieceBytes, WatchdogTiming timing, dsp::PagedBuffer& store) {
  Watch watch;
  int watchdogCode = kWatchdogDone;
  const std::unique_ptr<platform::Thread> watchdog = platform::SystemThreads().Start(
      [&] { watchdogCode = WatchChild(child, watch, stop, timing); });
  if (!watchdog) return kFailures.Note(kErrNoWatchdog);
  const Result collected = CollectOutput(child, watch, stop, pieceBytes, store);
  watch.Finish();
  watchdog->Join();
  if (watchdogCode != kWatchdogDone) return kFailures.Note(kErrSilent);
  return collected;
}

constexpr std::uint64_t kLeadIn = 48;
constexpr std::uint64_t kCopyPieceValues = 32768;  // 256 KiB
static_assert(std::endian::native == std::endian::little,
              "the streams' little-endian doubles are copied as they are");

}  // namespace

Result CopyFloatFrames(dsp::PagedBuffer& store, std::uint64_t offset, std::uint64_t frames,
                       std::uint32_t sampleRate, dsp::BufferSlot& slot) {
  slot.Clear();
  dsp::AudioBufferPtr buffer;
  if (const Result made = dsp::NewAudioBufferToOverwrite(buffer, sampleRate, frames, kLeadIn);
      made != kOk) {
    return made;
  }
  // A piece at a time, each checked while it is still in the cache.
  double* samples = buffer->Frame(0);
  if (!store.SetPosition(offset)) return kFailures.Note(kErrShortStore);
  for (std::uint64_t done = 0; done < 2 * frames;) {
    const std::uint64_t values = std::min(2 * frames - done, kCopyPieceValues);
    const std::uint64_t bytes = values * sizeof(double);
    if (store.Read(samples + done, bytes) != bytes) return kFailures.Note(kErrShortStore);
    for (std::uint64_t i = done; i < done + values; ++i) {
      if (!std::isfinite(samples[i])) samples[i] = 0.0;
    }
    done += values;
  }
  slot.Put(std::move(buffer));
  return kOk;
}

bool IsExistingFile(std::u16string_view path) {
  platform::FileAttributes attributes;
  return platform::GetFileAttributes(path, &attributes) && !attributes.directory;
}

bool ProgramDirectory(std::u16string* directory) {
  *directory = platform::ExecutablePath();
  if (directory->empty() || directory->size() > kMaxProgramPath) return false;
  return platform::PathRemoveFileSpec(*directory) && !directory->empty();
}

Result FindBesideProgram(std::u16string_view programFileName, std::u16string_view inputPath,
                         std::u16string* program) {
  if (!ProgramDirectory(program) || !platform::PathAppend(*program, programFileName)) {
    return kFailures.Note(kErrProgramPath);
  }
  if (!IsExistingFile(*program)) return kFailures.Note(kErrProgramMissing, *program);
  if (!IsExistingFile(inputPath)) return kFailures.Note(kErrInputMissing, inputPath);
  return kOk;
}

Result RunChild(const ChildRun& run, const platform::StopWord& stop,
                std::unique_ptr<dsp::PagedBuffer>* output, WatchdogTiming timing) {
  output->reset();
  std::unique_ptr<dsp::PagedBuffer> store = dsp::PagedBuffer::Create();
  if (!store) return kFailures.Note(kErrNoStore);
  Result result;
  {
    const std::unique_ptr<platform::ChildProcess> child =
        platform::ChildProcess::Start(run.program, run.arguments);
    if (!child) return kFailures.Note(kErrNotStarted, run.program);
    result = RunWatched(*child, stop, run.readPieceBytes, timing, *store);
  }  // the child is ended here if it still runs, and reaped
  if (result != kOk) return result;
  if (!store->SetPosition(0)) return kFailures.Note(kErrNoStore);
  *output = std::move(store);
  return kOk;
}

}  // namespace lumaro::decode
