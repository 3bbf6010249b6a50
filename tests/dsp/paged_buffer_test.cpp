#include "dsp/paged_buffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "tests/support/fake_memory_status.h"

namespace lumaro::dsp {
namespace {

std::vector<unsigned char> Pattern(std::size_t n) {
  std::vector<unsigned char> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
  return bytes;
}

// Bytes written in odd-sized pieces across page and chunk boundaries (chunks of 1, 1, 2, 4 and 8
// pages), by copy or straight into the room, come back in other pieces unchanged; also when the
// guard refuses chunks beyond 2 pages and the store goes on a page at a time.
TEST(PagedBufferTest, KeepsBytesAcrossPagesWhateverThePieces) {
  for (const int run : {0, 1, 2}) {
    const bool direct = run == 1;
    std::optional<testing::FakeMemoryStatus> tight;
    if (run == 2) tight.emplace((128 + 3) << 20);
    const std::size_t total = 12 * PagedBuffer::kPageSize + 5000;
    const std::vector<unsigned char> in = Pattern(total);
    auto store = PagedBuffer::Create();
    ASSERT_NE(store, nullptr);
    for (std::size_t at = 0; at < total;) {
      const std::uint64_t n = std::min<std::size_t>(direct ? 300007 : 4093, total - at);
      if (direct) {
        std::uint64_t room = 0;
        unsigned char* to = store->Room(n, &room);
        ASSERT_NE(to, nullptr);
        ASSERT_LE(room, n);
        std::copy_n(in.data() + at, room, to);
        store->Commit(room);
        at += room;
      } else {
        ASSERT_EQ(store->Append(in.data() + at, n), n);
        at += n;
      }
    }
    EXPECT_EQ(store->Length(), total);

    ASSERT_TRUE(store->SetPosition(0));
    std::vector<unsigned char> out(total + 10);
    std::uint64_t got = 0;
    while (const std::uint64_t n = store->Read(out.data() + got, 1000)) got += n;
    EXPECT_EQ(got, total);
    out.resize(got);
    EXPECT_TRUE(out == in);
    unsigned char byte = 0;
    EXPECT_EQ(store->Read(&byte, 1), 0U);  // the position has reached the length
  }
}

TEST(PagedBufferTest, RewritingKeepsTheHighestLengthAndClearForgets) {
  auto store = PagedBuffer::Create();
  ASSERT_NE(store, nullptr);
  ASSERT_EQ(store->Append("abcdef", 6), 6U);
  ASSERT_TRUE(store->SetPosition(1));
  ASSERT_EQ(store->Append("XY", 2), 2U);
  EXPECT_EQ(store->Length(), 6U);
  EXPECT_FALSE(store->SetPosition(7));  // beyond what was ever written
  ASSERT_TRUE(store->SetPosition(0));
  char out[8] = {};
  EXPECT_EQ(store->Read(out, sizeof out), 6U);
  EXPECT_EQ(std::string(out, 6), "aXYdef");

  store->Clear();
  EXPECT_EQ(store->Length(), 0U);
  EXPECT_EQ(store->Read(out, 1), 0U);
  ASSERT_EQ(store->Append("z", 1), 1U);
  ASSERT_TRUE(store->SetPosition(0));
  EXPECT_EQ(store->Read(out, sizeof out), 1U);
  EXPECT_EQ(out[0], 'z');
}

}  // namespace
}  // namespace lumaro::dsp
