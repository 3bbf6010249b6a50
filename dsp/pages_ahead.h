#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "dsp/guarded_alloc.h"
#include "dsp/worker_count.h"
#include "platform/os.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// Bytes of a block that one worker writes in order.
struct ByteRange {
  unsigned char* first = nullptr;
  std::uint64_t bytes = 0;
};

// Where the writes of a range start: at its front, or at its end (levels from the end).
enum class PagesOrder { kFromTheFront, kFromTheEnd };

// While it lives, a thread of its own makes the pages of a new block's ranges resident
// (PopulateForWriting) ahead of the workers that write each range in `order`: chunk c of every
// range before chunk c + 1 of any. The system then clears those pages on the processor a stage
// leaves free, beside the workers rather than inside their writes; no byte changes. It starts only
// for ranges of kLeastBytes or more in all, where a processor is left beside `workers`, where the
// system can populate pages and where its thread can start; otherwise the writes fault the pages
// in themselves. When it ends it stops at its next chunk and is joined. Owned by the thread that
// made it; the ranges are copied, but their memory must stay mapped where it is (not freed,
// grown, moved or shrunk) until it ends.
class PagesAhead {
 public:
  PagesAhead(std::span<const ByteRange> ranges, unsigned workers,
             PagesOrder order = PagesOrder::kFromTheFront,
             platform::ThreadStarter& threads = platform::SystemThreads());
  // The same for one range.
  PagesAhead(ByteRange range, unsigned workers, PagesOrder order = PagesOrder::kFromTheFront,
             platform::ThreadStarter& threads = platform::SystemThreads())
      : PagesAhead({&range, 1}, workers, order, threads) {}
  ~PagesAhead();
  PagesAhead(const PagesAhead&) = delete;
  PagesAhead& operator=(const PagesAhead&) = delete;

  // Bytes made resident per call, between two looks at the end.
  static constexpr std::uint64_t kChunkBytes = std::uint64_t{8} << 20;
  // Ranges smaller in all are left to the writes: their faults cost less than a thread's start.
  static constexpr std::uint64_t kLeastBytes = 2 * kChunkBytes;

 private:
  void Populate() const;

  std::array<ByteRange, kMaxWorkerSlots> ranges_{};
  std::size_t count_ = 0;
  PagesOrder order_;
  platform::StopWord ending_;
  std::unique_ptr<platform::Thread> thread_;
};

// InLevelsFromTheEnd for a conversion into a grown block whose output, `frames` × outFrameBytes
// from `output` on, is written from the end back: its pages are made resident ahead of the
// levels, from the end back, by a PagesAhead beside the stage's workers.
template <class Level>
Result InLevelsFromTheEndPagesAhead(unsigned char* output, std::uint64_t frames,
                                    std::uint64_t inFrameBytes, std::uint64_t readsPast,
                                    std::uint64_t outFrameBytes, std::uint64_t gap, Level level) {
  const PagesAhead pagesAhead(ByteRange{output, frames * outFrameBytes}, WorkerCount(),
                              PagesOrder::kFromTheEnd);
  return InLevelsFromTheEnd(frames, inFrameBytes, readsPast, outFrameBytes, gap, level);
}

}  // namespace lumaro::dsp
