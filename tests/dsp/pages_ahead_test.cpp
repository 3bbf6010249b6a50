#include "dsp/pages_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "dsp/guarded_alloc.h"
#include "dsp/record_ptr.h"
#include "tests/support/audio_slot.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace lumaro::dsp {
namespace {

// The pages of a block's ranges are made resident beside writers filling each range from its
// front on; afterwards the block holds the bytes written before and during it and nothing else.
// The thread starts only where a processor is left beside the workers (and the system can
// populate pages); a refused start leaves the writes to fault their pages in themselves.
TEST(PagesAheadTest, NeverChangesABlocksBytesAndStartsOnlyBesideTheWorkers) {
  constexpr std::uint64_t kRangeBytes = 2 * PagesAhead::kChunkBytes + 12345;
  constexpr unsigned kRanges = 3;
  const auto byteAt = [](std::uint64_t i) { return static_cast<unsigned char>(i * 131 + 7); };
  const unsigned processors = platform::ProcessorCount();
  const int spare = processors > 1 && platform::CanPopulateForWriting() ? 1 : 0;
  struct Case {
    unsigned workers;
    int failAt;  // the start refused (-1: none)
    int starts;  // asked of the starter
  } cases[] = {{processors - 1, -1, spare}, {processors, -1, 0}, {1, 0, spare}};
  for (const auto& [c, order] : {std::pair{cases[0], PagesOrder::kFromTheFront},
                                 {cases[0], PagesOrder::kFromTheEnd},
                                 {cases[1], PagesOrder::kFromTheFront},
                                 {cases[2], PagesOrder::kFromTheEnd}}) {
    const RecordPtr<unsigned char> block(
        static_cast<unsigned char*>(GuardedAlloc(kRanges * kRangeBytes)));
    ASSERT_NE(block, nullptr);
    std::fill_n(block.get(), kRangeBytes / 2, 0x5A);  // written before: must stay
    std::array<ByteRange, kRanges> ranges{};
    for (unsigned r = 0; r < kRanges; ++r) ranges[r] = {block.get() + r * kRangeBytes, kRangeBytes};
    lumaro::testing::FailingStarter starter(c.failAt);
    {
      const PagesAhead ahead(ranges, std::max(c.workers, 1U), order, starter);
      std::vector<std::thread> writers;
      for (unsigned r = 1; r < kRanges; ++r) {
        writers.emplace_back([&, r] {
          for (std::uint64_t i = 0; i < kRangeBytes; ++i) ranges[r].first[i] = byteAt(i + r);
        });
      }
      for (std::thread& writer : writers) writer.join();
    }
    EXPECT_EQ(starter.starts, c.starts) << c.workers;
    EXPECT_EQ(std::count(block.get(), block.get() + kRangeBytes / 2, 0x5A),
              static_cast<std::ptrdiff_t>(kRangeBytes / 2));
    std::uint64_t wrong = 0;
    for (unsigned r = 1; r < kRanges; ++r) {
      for (std::uint64_t i = 0; i < kRangeBytes; ++i) wrong += ranges[r].first[i] != byteAt(i + r);
    }
    EXPECT_EQ(wrong, 0U) << c.workers;
  }
}

#ifndef _WIN32
// Exactly the pages of the range become resident, whichever end it is written from: those before
// and after it stay untouched. A wrong chunk offset leaves some of its pages out and brings in
// others. The block is a fresh mapping without large pages, so that a page is a page.
TEST(PagesAheadTest, MakesResidentTheRangesPagesAndNoOthers) {
  if (platform::ProcessorCount() < 2 || !platform::CanPopulateForWriting()) {
    GTEST_SKIP() << "no processor beside the worker, or no populating on this system";
  }
  const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  constexpr std::uint64_t kBlockBytes = 3 * PagesAhead::kLeastBytes;
  const std::uint64_t first = PagesAhead::kLeastBytes / 2 + 100;
  const std::uint64_t bytes = PagesAhead::kLeastBytes + 5 * page + 17;
  const std::uint64_t pages = kBlockBytes / page;
  const auto resident = [&](unsigned char* block) {
    std::vector<unsigned char> in(pages);
    EXPECT_EQ(::mincore(block, kBlockBytes, in.data()), 0);
    return in;
  };
  for (const PagesOrder order : {PagesOrder::kFromTheFront, PagesOrder::kFromTheEnd}) {
    void* mapped =
        ::mmap(nullptr, kBlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    auto* block = static_cast<unsigned char*>(mapped);
    ::madvise(block, kBlockBytes, MADV_NOHUGEPAGE);
    const ByteRange range{block + first, bytes};
    const std::uint64_t firstPage = first / page;
    const std::uint64_t endPage = (first + bytes + page - 1) / page;
    {
      const PagesAhead ahead(range, 1, order);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      for (;;) {
        const std::vector<unsigned char> in = resident(block);
        if (std::all_of(in.begin() + firstPage, in.begin() + endPage,
                        [](unsigned char p) { return (p & 1U) != 0; }) ||
            std::chrono::steady_clock::now() > deadline) {
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    const std::vector<unsigned char> in = resident(block);
    std::uint64_t wrong = 0;
    for (std::uint64_t p = 0; p < pages; ++p) {
      wrong += ((in[p] & 1U) != 0) != (p >= firstPage && p < endPage);
    }
    EXPECT_EQ(wrong, 0U) << (order == PagesOrder::kFromTheEnd ? "from the end" : "from the front");
    ::munmap(block, kBlockBytes);
  }
}
#endif

}  // namespace
}  // namespace lumaro::dsp
