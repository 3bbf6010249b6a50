#include "dsp/dsd_to_float.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "dsp/clip_guard.h"
#include "dsp/float_to_output.h"
#include "dsp/guarded_alloc.h"
#include "dsp/pages_ahead.h"
#include "dsp/parallel_for.h"
#include "platform/failure.h"

namespace lumaro::dsp {
namespace {

enum : Result {
  kErrNotDsd = FirstCode(FailureSite::kDsdToFloat),
  kErrRate,
  kErrNoOutputFrames,
  kErrNoMemory,
  kErrJobMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kDsdToFloat,
    kErrJobMemory,
    {"dsd-to-float without a DSD record", "dsd-to-float DSD rate",
     "dsd-to-float without output frames", "dsd-to-float output", "dsd-to-float filter memory"}};

constexpr std::uint32_t kMaxPcmRate = 768000;
constexpr std::uint64_t kOutputLeadIn = 48;
constexpr unsigned kPhases = 24;
// The window of one output position: six byte positions before it and six from it on.
constexpr std::int64_t kWindowBefore = 6;
constexpr std::uint64_t kWindowFrom = 6;
// Bytes the windows of frames [first, end) read past byte pair decimation × end: the last
// position's pairs from it on, less its own pair.
constexpr std::uint64_t kBytesReadPastTheEnd = 2 * (kWindowFrom - 1);
// Output frames between two looks at the stop word.
constexpr std::uint64_t kRunFrames = 2048;
// Output frames of a block written straight into the output record.
constexpr std::uint64_t kOutputBlockFrames = 32 * kRunFrames;

// Cubic convolution kernel with parameter -1.
double Kernel(double t) {
  if (t < 1.0) return (t - 2.0) * t * t + 1.0;
  if (t < 2.0) return ((5.0 - t) * t - 8.0) * t + 4.0;
  return 0.0;
}

std::uint64_t Load64(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

using Tables = std::array<std::array<double, 256>, DsdFilter::kTables>;

// Left and right filter outputs at the byte pair `window` + 12 (the window's seventh pair):
// the 24 bytes from `window` on are six pairs before that position and six from it on.
inline void FilterAt(const Tables& t, const unsigned char* window, double* left, double* right) {
  const std::uint64_t a = Load64(window);
  const std::uint64_t b = Load64(window + 8);
  const std::uint64_t c = Load64(window + 16);
  // Byte 2m of the window is the left byte of pair m, byte 2m + 1 the right one.
  const auto at = [](std::uint64_t word, unsigned byte) { return (word >> (8 * byte)) & 0xFF; };
  const double l0 = t[0][at(a, 0)] + t[1][at(a, 2)];
  const double l1 = t[2][at(a, 4)] + t[3][at(a, 6)];
  const double l2 = t[4][at(b, 0)] + t[5][at(b, 2)];
  const double l3 = t[6][at(b, 4)] + t[7][at(b, 6)];
  const double l4 = t[8][at(c, 0)] + t[9][at(c, 2)];
  const double l5 = t[10][at(c, 4)] + t[11][at(c, 6)];
  const double r0 = t[0][at(a, 1)] + t[1][at(a, 3)];
  const double r1 = t[2][at(a, 5)] + t[3][at(a, 7)];
  const double r2 = t[4][at(b, 1)] + t[5][at(b, 3)];
  const double r3 = t[6][at(b, 5)] + t[7][at(b, 7)];
  const double r4 = t[8][at(c, 1)] + t[9][at(c, 3)];
  const double r5 = t[10][at(c, 5)] + t[11][at(c, 7)];
  *left = ((l0 + l1) + (l2 + l3)) + (l4 + l5);
  *right = ((r0 + r1) + (r2 + r3)) + (r4 + r5);
}

// Output frames [first, first + count) from the byte pairs of `dsd`, written from `frame` on.
void FilterFrames(const Tables& tables, const DsdBuffer& dsd, unsigned decimation, double* frame,
                  std::uint64_t first, std::uint64_t count) {
  const unsigned char* pairs = dsd.Data() + 2 * (first * decimation) - 2 * kWindowBefore;
  if (decimation == 1) {
    for (std::uint64_t i = 0; i < count; ++i, pairs += 2, frame += 2) {
      FilterAt(tables, pairs, &frame[0], &frame[1]);
    }
    return;
  }
  const double scale = 1.0 / decimation;
  for (std::uint64_t i = 0; i < count; ++i, frame += 2) {
    double sumLeft = 0.0;
    double sumRight = 0.0;
    for (unsigned d = 0; d < decimation; ++d, pairs += 2) {
      double left;
      double right;
      FilterAt(tables, pairs, &left, &right);
      sumLeft += left;
      sumRight += right;
    }
    frame[0] = sumLeft * scale;
    frame[1] = sumRight * scale;
  }
}

}  // namespace

void BuildDsdFilter(DsdFilter& filter) noexcept {
  auto& taps = filter.taps;
  constexpr unsigned kHalf = DsdFilter::kTaps / 2;
  for (unsigned i = 0; i < kHalf; ++i) {
    // (i + 0.5) / 24, written as the sum the filter was designed with.
    const double t = std::fabs(i / static_cast<double>(kPhases) + 0.020833333333333332);
    taps[kHalf + i] = taps[kHalf - 1 - i] = Kernel(t);
  }
  for (unsigned p = 0; p < kPhases; ++p) {
    const double sum = taps[p] + taps[p + kPhases] + taps[p + 2 * kPhases] + taps[p + 3 * kPhases];
    for (unsigned m = 0; m < 4; ++m) taps[p + m * kPhases] /= sum;
  }
  double total = 0.0;
  for (double tap : taps) total += tap;
  for (double& tap : taps) tap = 2.0 * (tap / total);
  for (unsigned k = 0; k < DsdFilter::kTables; ++k) {
    for (unsigned b = 0; b < 256; ++b) {
      double entry = 0.0;
      for (unsigned j = 0; j < 8; ++j) {
        const double sign = (b >> j) & 1U ? 1.0 : -1.0;
        entry += sign * taps[8 * k + j];
      }
      filter.table[k][b] = entry;
    }
  }
}

bool DsdDecimation(std::uint32_t dsdRate, std::uint32_t* pcmRate, unsigned* decimation) noexcept {
  if (dsdRate % 8 != 0) return false;
  const std::uint32_t bytesPerSecond = dsdRate / 8;
  std::uint32_t rate = bytesPerSecond;
  if (rate < kMinSampleRate) return false;
  unsigned d = 1;
  while (rate > kMaxPcmRate) {
    rate /= 2;
    if (bytesPerSecond % rate != 0) return false;
    d *= 2;
  }
  *pcmRate = rate;
  *decimation = d;
  return true;
}

namespace {

// A conversion of the DsdBuffer taken from a slot (freed with the job): its output rate,
// decimation and frame count, and the filter in the job record.
struct DsdJob {
  DsdBufferPtr dsd;
  std::uint32_t rate = 0;
  unsigned decimation = 1;
  std::uint64_t frames = 0;
  std::unique_ptr<DsdFilter, RecordDeleter> filter;

  // Steps 0 and 1 without the output record (their failures, noted).
  Result Start(BufferSlot& slot) {
    dsd = slot.TakeAs<DsdBuffer>();
    if (!dsd) return kFailures.Note(kErrNotDsd);
    if (!DsdDecimation(dsd->dsdRate, &rate, &decimation)) return kFailures.Note(kErrRate);
    frames = dsd->length / decimation;
    if (frames == 0) return kFailures.Note(kErrNoOutputFrames);
    filter.reset(static_cast<DsdFilter*>(GuardedAlloc(sizeof(DsdFilter))));
    if (!filter) return kFailures.Note(kErrJobMemory);
    BuildDsdFilter(*filter);
    return kOk;
  }

  // Output frames [first, first + count) into `y`, in runs between looks at the stop word.
  void Filter(std::uint64_t first, std::uint64_t count, double* y,
              const platform::StopWord& stop) const {
    for (std::uint64_t done = 0; done < count && stop.Load() == 0; done += kRunFrames) {
      FilterFrames(filter->table, *dsd, decimation, y + 2 * done, first + done,
                   std::min(kRunFrames, count - done));
    }
  }
};

using Peaks = std::array<double, kMaxWorkerSlots>;

// Output frames [first, end) filtered to `out` (frame f at out + 2f) by `workers` in runs; the
// clip guard's peak is measured run by run while the frames are still in the cache, each
// worker's into its entry of `peaks`.
Result FilterInParallel(const DsdJob& job, double* out, std::uint64_t first, std::uint64_t end,
                        unsigned workers, Peaks& peaks, const platform::StopWord& stop) {
  return ParallelForOn(end - first, workers, stop, [&](unsigned worker, Slice slice) {
    for (std::uint64_t done = 0; done < slice.count && stop.Load() == 0; done += kRunFrames) {
      const std::uint64_t f = first + slice.first + done;
      const std::uint64_t run = std::min(kRunFrames, slice.count - done);
      double* y = out + 2 * f;
      job.Filter(f, run, y, stop);
      peaks[worker] = std::max(peaks[worker], PeakOfSamples(y, run, stop));
    }
  });
}

// The frames filtered in the DsdBuffer's own block, made long enough for the AudioBuffer without
// a copy (GuardedGrow): the answer (the AudioBuffer in `audio` on success), or nullopt when the
// block cannot grow (the job's DsdBuffer untouched). An AudioBuffer frame is wider than the byte
// pairs it is filtered from, and its frames start past the DsdBuffer's, so in levels from the
// end, every frame whose output starts past all the byte pairs still to be read (the windows
// reaching past the last frame's) is filtered at once, by a worker per kLevelFramesPerWorker
// frames up to every worker; what each level writes over was read by the levels before. The
// header and lead-ins are written last.
std::optional<Result> FilterInGrownBlock(DsdJob& job, Peaks& peaks, const platform::StopWord& stop,
                                         AudioBufferPtr* audio) {
  const auto inputStart = static_cast<std::uint64_t>(
      job.dsd->Data() - reinterpret_cast<const unsigned char*>(job.dsd.get()));
  const std::uint64_t outputStart = sizeof(AudioBuffer) + kOutputLeadIn * kAudioFrameBytes;
  void* grown = GrowForLevelsFromTheEnd(job.dsd.get(), AudioBufferBytes(job.frames, kOutputLeadIn),
                                        inputStart, outputStart, 2 * job.decimation,
                                        kBytesReadPastTheEnd, kAudioFrameBytes);
  if (grown == nullptr) return std::nullopt;
  (void)job.dsd.release();  // the block now lies at `grown`, its DsdBuffer header unchanged
  job.dsd.reset(static_cast<DsdBuffer*>(grown));
  auto* out = reinterpret_cast<double*>(static_cast<unsigned char*>(grown) + outputStart);
  if (const Result filtered = InLevelsFromTheEndPagesAhead(
          static_cast<unsigned char*>(grown) + outputStart, job.frames, 2 * job.decimation,
          kBytesReadPastTheEnd, kAudioFrameBytes, outputStart - inputStart,
          [&](std::uint64_t first, std::uint64_t end) {
            return FilterInParallel(job, out, first, end, LevelWorkers(end - first), peaks, stop);
          });
      filtered != kOk) {
    return filtered;
  }
  *audio = AudioBufferInBlock(job.dsd.release(), job.rate, job.frames, kOutputLeadIn);
  return kOk;
}

}  // namespace

Result DsdToFloat(BufferSlot& slot, const platform::StopWord& stop) {
  // Steps 0 and 1: the source leaves the slot (freed with the job), the filter; the record in
  // the source's own block where it can grow, else a new one.
  DsdJob job;
  if (const Result started = job.Start(slot); started != kOk) return started;
  Peaks peaks{};
  AudioBufferPtr audio;
  if (const std::optional<Result> inPlace = FilterInGrownBlock(job, peaks, stop, &audio)) {
    if (*inPlace != kOk) return *inPlace;
  } else {
    if (NewAudioBufferToOverwrite(audio, job.rate, job.frames, kOutputLeadIn) != kOk)
      return kFailures.Note(kErrNoMemory);
    // Step 2: one pass over the output frames.
    if (const Result filtered =
            FilterInParallel(job, audio->Frame(0), 0, job.frames, WorkerCount(), peaks, stop);
        filtered != kOk) {
      return filtered;
    }
  }
  if (const Result guarded =
          ClipGuardWithPeak(*audio, *std::max_element(peaks.begin(), peaks.end()), stop);
      guarded != kOk) {
    return guarded;
  }
  slot.Put(std::move(audio));
  return kOk;
}

Result DsdToOutput(BufferSlot& slot, bool clipGuard, const OutputFormat& format,
                   const std::function<void()>& beforeConversion, const platform::StopWord& stop) {
  DsdJob job;
  if (const Result started = job.Start(slot); started != kOk) return started;
  BlockSource source;
  source.frames = job.frames;
  source.blockFrames = kOutputBlockFrames;
  source.produce = [&](unsigned, std::uint64_t block, double* y, std::uint64_t count) {
    job.Filter(block * kOutputBlockFrames, count, y, stop);
  };
  // The conversion's own clip guard, then the caller's.
  return BlocksToOutput(source, job.rate, clipGuard ? 2 : 1, format, beforeConversion, stop, slot);
}

}  // namespace lumaro::dsp
