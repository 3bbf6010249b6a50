#include "dsp/guarded_alloc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "tests/support/fake_memory_status.h"

namespace lumaro::dsp {
namespace {

using testing::FakeMemoryStatus;

TEST(GuardedAllocTest, OnlyRequestsAboveOneMebibyteAskForTheMemoryStatus) {
  ReleaseFreeBlocks();  // a refusal with blocks kept asks a second time
  FakeMemoryStatus nothingFree(0);
  void* atThreshold = GuardedAlloc(kGuardThreshold);
  EXPECT_NE(atThreshold, nullptr);
  EXPECT_EQ(nothingFree.Reads(), 0);
  GuardedFree(atThreshold);

  EXPECT_EQ(GuardedAlloc(kGuardThreshold + 1), nullptr);
  EXPECT_EQ(nothingFree.Reads(), 1);
}

TEST(GuardedAllocTest, KeepsTheReserveFreeWithEqualityAllowed) {
  const std::uint64_t request = kGuardThreshold + 1;
  // Bytes free, whether the status answers, the request, whether it is granted.
  const std::tuple<std::uint64_t, bool, std::uint64_t, bool> cases[] = {
      {request + kGuardReserve, true, request, true},
      {request + kGuardReserve - 1, true, request, false},
      {UINT64_MAX, false, request, false},        // the status is unknown
      {UINT64_MAX, true, UINT64_MAX - 1, false},  // request + reserve would wrap
  };
  for (const auto& [free, answers, size, granted] : cases) {
    FakeMemoryStatus status(free, answers);
    void* block = GuardedAlloc(size);
    EXPECT_EQ(block != nullptr, granted) << free << " " << size;
    GuardedFree(block);
  }
}

// Freed large blocks serve the next large requests in pages already touched: the smallest kept
// block that holds a request (rounded up to 2 MiB), with the rest of it as slack; a request none
// holds gives them all back, and the slack, before it maps; at most four are kept, the smallest
// going back; the guard still decides.
TEST(GuardedAllocTest, FreedLargeBlocksServeTheNextRequests) {
  constexpr std::uint64_t kMiB = 1 << 20;
  ReleaseFreeBlocks();
  std::vector<void*> blocks;
  for (const std::uint64_t mib : {34, 36, 38, 40, 42}) blocks.push_back(GuardedAlloc(mib * kMiB));
  for (void* block : blocks) {
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x5A, 34 * kMiB);
    GuardedFree(block);
  }
  EXPECT_EQ(KeptFreeBytes(), (36 + 38 + 40 + 42) * kMiB);

  void* cut = GuardedAlloc(36 * kMiB + 1);  // 38 MiB: the 38 MiB block
  EXPECT_EQ(cut, blocks[2]);
  EXPECT_EQ(KeptFreeBytes(), (36 + 40 + 42) * kMiB);
  GuardedFree(cut);
  void* fresh = GuardedAlloc(50 * kMiB);  // none holds it
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(KeptFreeBytes(), 0U);
  GuardedFree(fresh);
  void* shrunk = GuardedAlloc(37 * kMiB);  // the 50 MiB block: 38 MiB and 12 of slack
  EXPECT_EQ(shrunk, fresh);
  EXPECT_EQ(KeptFreeBytes(), 12 * kMiB);
  std::memset(shrunk, 1, 38 * kMiB);
  GuardedFree(shrunk);
  EXPECT_EQ(KeptFreeBytes(), 50 * kMiB);
  {
    FakeMemoryStatus nothingFree(0);
    EXPECT_EQ(GuardedAlloc(34 * kMiB), nullptr);
    EXPECT_EQ(KeptFreeBytes(), 0U);  // given back before the guard's second answer
  }
  GuardedFree(GuardedAlloc(34 * kMiB));
  ReleaseFreeBlocks();
  EXPECT_EQ(KeptFreeBytes(), 0U);
}

// A large block grows with its bytes: into its slack, or onto a new mapping where the system can
// move pages; never for a small block or past the guard (which then leaves it as it was). It
// shrinks by giving back its end, and is freed (and kept) with the size it has then.
TEST(GuardedAllocTest, LargeBlocksGrowAndShrinkWithTheirBytes) {
  constexpr std::uint64_t kMiB = 1 << 20;
  ReleaseFreeBlocks();
  auto* small = static_cast<unsigned char*>(GuardedAlloc(kMiB));
  EXPECT_EQ(GuardedGrow(small, 40 * kMiB), nullptr);
  GuardedFree(small);

  auto* block = static_cast<unsigned char*>(GuardedAlloc(34 * kMiB));
  ASSERT_NE(block, nullptr);
  for (std::uint64_t i = 0; i < 34 * kMiB; i += 4096)
    block[i] = static_cast<unsigned char>(i >> 12);
  {
    FakeMemoryStatus nothingFree(0);
    EXPECT_EQ(GuardedGrow(block, 80 * kMiB), nullptr);
  }
  EXPECT_EQ(block[4096], 1);
  GuardedFree(GuardedAlloc(40 * kMiB));  // kept; too small to grow onto
  auto* grown = static_cast<unsigned char*>(GuardedGrow(block, 80 * kMiB));
#ifdef _WIN32
  EXPECT_EQ(grown, nullptr);              // Windows cannot move pages: the caller takes a new block
  EXPECT_EQ(KeptFreeBytes(), 40 * kMiB);  // still kept for that block
  grown = block;
#else
  ASSERT_NE(grown, nullptr);
  for (std::uint64_t i = 0; i < 34 * kMiB; i += 4096) {
    ASSERT_EQ(grown[i], static_cast<unsigned char>(i >> 12)) << i;
  }
  EXPECT_EQ(grown[80 * kMiB - 1], 0);
  grown[80 * kMiB - 1] = 1;
  EXPECT_EQ(KeptFreeBytes(), 0U);  // given back before the new mapping
#endif
  GuardedFree(grown);

  // A block served from a kept one grows into the rest of it, is kept whole when freed, and gives
  // the rest back when it shrinks, on every system.
  ReleaseFreeBlocks();
  void* roomy = GuardedAlloc(60 * kMiB);
  GuardedFree(roomy);
  auto* served = static_cast<unsigned char*>(GuardedAlloc(36 * kMiB));
  EXPECT_EQ(served, roomy);
  EXPECT_EQ(KeptFreeBytes(), 24 * kMiB);
  EXPECT_EQ(GuardedGrow(served, 50 * kMiB), served);
  served[50 * kMiB - 1] = 3;
  EXPECT_EQ(KeptFreeBytes(), 10 * kMiB);
  GuardedFree(served);
  EXPECT_EQ(KeptFreeBytes(), 60 * kMiB);
  served = static_cast<unsigned char*>(GuardedAlloc(36 * kMiB));
  EXPECT_EQ(served, roomy);
  GuardedShrink(served, 33 * kMiB + 1);  // to 34 MiB, in large pages
  EXPECT_EQ(KeptFreeBytes(), 0U);
  served[34 * kMiB - 1] = 2;
  GuardedFree(served);
  EXPECT_EQ(KeptFreeBytes(), 34 * kMiB);
  // Shrunk below the large size, a block is not kept; shrunk to nothing, it keeps one page.
  for (const std::uint64_t keep : {30 * kMiB, std::uint64_t{0}}) {
    auto* shrunk = static_cast<unsigned char*>(GuardedAlloc(34 * kMiB));
    GuardedShrink(shrunk, keep);
    shrunk[std::max<std::uint64_t>(keep, 2 * kMiB) - 1] = 4;
    GuardedFree(shrunk);
    EXPECT_EQ(KeptFreeBytes(), 0U) << keep;
  }
  ReleaseFreeBlocks();
}

// A conversion over its own input in one block is safe exactly when each level, converted all at
// once, writes nothing its own frames or later levels still read: the levels must cover every
// frame once, in order, each non-empty, and reach as far as that allows (fewer levels, fewer
// worker starts). Byte counts of the player's conversions: header and lead-in differences as gaps.
TEST(GuardedAllocTest, LevelsCoverEveryFrameAndNeverWriteWhatIsStillToBeRead) {
  using Level = std::pair<std::uint64_t, std::uint64_t>;
  const auto levels = [](auto run) {
    std::vector<Level> out;
    EXPECT_EQ(run([&](std::uint64_t first, std::uint64_t end) {
                out.emplace_back(first, end);
                return kOk;
              }),
              kOk);
    return out;
  };
  const std::uint64_t frameCounts[] = {1, 2, 49, 24583, 28'800'000};
  // Narrower outputs from the first frame: input 16 bytes a frame, output bytes, gap.
  const std::tuple<std::uint64_t, std::uint64_t, std::uint64_t> fromTheFront[] = {
      {16, 4, 768 - 48 * 4}, {16, 6, 768 - 48 * 6}, {16, 8, 768 - 48 * 8}};
  for (const auto& [in, out, gap] : fromTheFront) {
    ASSERT_TRUE(LevelsFromTheFrontHold(in, out, gap));
    for (const std::uint64_t frames : frameCounts) {
      SCOPED_TRACE(::testing::Message() << "front " << in << "/" << out << ", " << frames);
      std::uint64_t next = 0;
      for (const auto& [first, end] :
           levels([&](auto level) { return InLevelsFromTheFront(frames, in, out, gap, level); })) {
        ASSERT_EQ(first, next);
        ASSERT_LT(first, end);
        EXPECT_LE(out * end, gap + in * first) << "writes over frames still to be read";
        EXPECT_TRUE(end == frames || out * (end + 1) > gap + in * first) << "stops short";
        next = end;
      }
      EXPECT_EQ(next, frames);
    }
  }
  // Wider outputs from the last frame: input bytes a frame, bytes read past, output bytes, gap.
  const std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t> fromTheEnd[] = {
      {1, 4, 16, 768 - 48},    {3, 4, 16, 768 - 48 * 3}, {6, 4, 16, 768 - 48 * 6},
      {4, 0, 6, 48 * 6 - 256}, {4, 0, 8, 48 * 8 - 256},  {2, 10, 16, 512},
      {4, 10, 16, 512},        {8, 10, 16, 512}};
  for (const auto& [in, past, out, gap] : fromTheEnd) {
    ASSERT_TRUE(LevelsFromTheEndHold(in, past, out, gap));
    for (const std::uint64_t frames : frameCounts) {
      SCOPED_TRACE(::testing::Message()
                   << "end " << in << "+" << past << "/" << out << ", " << frames);
      std::uint64_t next = frames;
      for (const auto& [first, end] : levels(
               [&](auto level) { return InLevelsFromTheEnd(frames, in, past, out, gap, level); })) {
        ASSERT_EQ(end, next);
        ASSERT_LT(first, end);
        EXPECT_GE(gap + out * first, in * end + past) << "writes over bytes still to be read";
        EXPECT_TRUE(first == 0 || gap + out * (first - 1) < in * end + past) << "stops short";
        next = first;
      }
      EXPECT_EQ(next, 0U);
    }
  }
  // Sizes whose first level would hold no frame, or whose levels would run backwards: a
  // 2048-fold decimation's 32 bytes a frame into 16, a first output short of what frame 0 reads.
  EXPECT_FALSE(LevelsFromTheEndHold(32, 10, 16, 512));
  EXPECT_FALSE(LevelsFromTheEndHold(8, 10, 16, 17));
  EXPECT_FALSE(LevelsFromTheFrontHold(8, 16, 768));
  EXPECT_FALSE(LevelsFromTheFrontHold(16, 8, 7));
}

}  // namespace
}  // namespace lumaro::dsp
