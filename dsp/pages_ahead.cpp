#include "dsp/pages_ahead.h"

#include <algorithm>

namespace lumaro::dsp {

PagesAhead::PagesAhead(std::span<const ByteRange> ranges, unsigned workers, PagesOrder order,
                       platform::ThreadStarter& threads)
    : order_(order) {
  count_ = std::min(ranges.size(), ranges_.size());
  std::copy_n(ranges.begin(), count_, ranges_.begin());
  std::uint64_t bytes = 0;
  for (std::size_t r = 0; r < count_; ++r) bytes += ranges_[r].bytes;
  if (bytes < kLeastBytes || platform::ProcessorCount() <= workers ||
      !platform::CanPopulateForWriting()) {
    return;
  }
  thread_ = threads.Start([this] { Populate(); });
}

PagesAhead::~PagesAhead() {
  ending_.Store(1);
  if (thread_) thread_->Join();
}

void PagesAhead::Populate() const {
  for (std::uint64_t at = 0;; at += kChunkBytes) {
    bool more = false;
    for (std::size_t r = 0; r < count_; ++r) {
      if (ending_.Load() != 0) return;
      const ByteRange& range = ranges_[r];
      if (at >= range.bytes) continue;
      const std::uint64_t bytes = std::min(kChunkBytes, range.bytes - at);
      const std::uint64_t offset =
          order_ == PagesOrder::kFromTheFront ? at : range.bytes - at - bytes;
      platform::PopulateForWriting(range.first + offset, bytes);
      more = true;
    }
    if (!more) return;
  }
}

}  // namespace lumaro::dsp
