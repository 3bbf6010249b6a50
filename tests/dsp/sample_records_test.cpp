#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "dsp/buffer_slot.h"
#include "tests/support/fake_memory_status.h"

namespace lumaro::dsp {
namespace {

TEST(NewAudioBufferTest, FillsEveryByteThenWritesTheHeader) {
  AudioBufferPtr buffer;
  ASSERT_EQ(NewAudioBuffer(buffer, 44100, 3, 2), kOk);
  EXPECT_EQ(buffer->sampleRate, 44100U);
  EXPECT_EQ(buffer->frameCount, 3U);
  EXPECT_EQ(buffer->leadIn, 2U);
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer->Samples());
  for (std::size_t i = 0; i < (3 + 2 * 2) * kAudioFrameBytes; ++i) {
    ASSERT_EQ(bytes[i], kAudioBufferFill) << i;
  }
  EXPECT_EQ(buffer->Frame(0), buffer->Samples() + 4);
  EXPECT_EQ(buffer->Frame(-2), buffer->Samples());

  // The constructor for a caller that writes every real frame gives the same bytes once it has.
  AudioBufferPtr overwritten;
  ASSERT_EQ(NewAudioBufferToOverwrite(overwritten, 44100, 3, 2), kOk);
  for (AudioBuffer* b : {buffer.get(), overwritten.get()}) {
    for (int i = 0; i < 6; ++i) b->Frame(0)[i] = 0.25 * i;
  }
  const std::size_t size = sizeof(AudioBuffer) + (3 + 2 * 2) * kAudioFrameBytes;
  EXPECT_EQ(std::memcmp(buffer.get(), overwritten.get(), size), 0);
}

TEST(NewAudioBufferTest, RefusesBadRequestsAndLeavesNothing) {
  // Rate, frames, lead-in.
  const std::tuple<std::uint32_t, std::uint64_t, std::uint64_t> cases[] = {
      {7999, 10, 0},                // rate below 8000
      {8000, 0, 48},                // no frames
      {44100, UINT64_MAX / 16, 0},  // 16 × frames + header overflows 64 bits
      {44100, 1, UINT64_MAX / 2},   // 2 × lead-in fits, its bytes do not
  };
  for (const auto& [rate, frames, leadIn] : cases) {
    AudioBufferPtr buffer;
    ASSERT_EQ(NewAudioBuffer(buffer, 44100, 1, 0), kOk);  // a failure must empty `out`
    EXPECT_NE(NewAudioBuffer(buffer, rate, frames, leadIn), kOk);
    EXPECT_EQ(buffer, nullptr);
  }
  AudioBufferPtr lowest;
  EXPECT_EQ(NewAudioBuffer(lowest, 8000, 1, 0), kOk);
}

TEST(NewPcmBufferTest, ChecksEveryFieldAndZeroes) {
  const std::tuple<std::uint16_t, std::uint8_t, std::uint8_t, std::uint32_t, std::uint64_t, bool>
      cases[] = {
          {kPcmInteger, 2, 16, 44100, 10, true},
          {kPcmFloat, 1, 32, 8000, 10, true},
          {kPcmInteger, 2, 64, 48000, 0, true},
          {kPcmInteger, 2, 8, 44100, 1, true},
          {2, 2, 16, 44100, 10, false},
          {kPcmInteger, 3, 16, 44100, 10, false},
          {kPcmInteger, 0, 16, 44100, 10, false},
          {kPcmInteger, 2, 20, 44100, 10, false},
          {kPcmInteger, 2, 16, 7999, 10, false},
          {kPcmInteger, 2, 64, 44100, UINT64_MAX / 16, false},  // above 0x7FFF…FFFF bytes
      };
  for (const auto& [format, channels, bits, rate, frames, ok] : cases) {
    PcmBufferPtr buffer;
    EXPECT_EQ(NewPcmBuffer(buffer, format, channels, bits, rate, frames) == kOk, ok)
        << format << " " << int{channels} << " " << int{bits} << " " << rate;
    if (!ok) {
      EXPECT_EQ(buffer, nullptr);
      continue;
    }
    EXPECT_EQ(buffer->leadIn, kPcmLeadIn);
    EXPECT_EQ(buffer->BytesPerFrame(), channels * bits / 8);
    const std::size_t bytes = (frames + 2 * kPcmLeadIn) * buffer->BytesPerFrame();
    for (std::size_t i = 0; i < bytes; ++i) ASSERT_EQ(buffer->Samples()[i], 0) << i;
    EXPECT_EQ(buffer->Data(), buffer->Samples() + kPcmLeadIn * buffer->BytesPerFrame());

    // The constructor for a caller that writes every real frame gives the same bytes once it has.
    PcmBufferPtr overwritten;
    ASSERT_EQ(NewPcmBufferToOverwrite(overwritten, format, channels, bits, rate, frames), kOk);
    const std::size_t data = frames * buffer->BytesPerFrame();
    for (PcmBuffer* b : {buffer.get(), overwritten.get()}) std::memset(b->Data(), 0x5A, data);
    EXPECT_EQ(std::memcmp(buffer.get(), overwritten.get(), sizeof(PcmBuffer) + bytes), 0);
  }
}

TEST(NewDsdBufferTest, AcceptsTheFourRatesAndFillsSilence) {
  for (std::uint32_t rate : kDsdRates) {
    DsdBufferPtr buffer;
    ASSERT_EQ(NewDsdBuffer(buffer, rate, 5), kOk);
    EXPECT_EQ(buffer->leadIn, kDsdLeadIn);
    for (std::size_t i = 0; i < (5 + 2 * kDsdLeadIn) * 2; ++i) {
      ASSERT_EQ(buffer->Samples()[i], kDsdSilence);
    }
  }
  for (std::uint32_t rate : {0U, 2822399U, 44100U, 45158400U}) {
    DsdBufferPtr buffer;
    EXPECT_NE(NewDsdBuffer(buffer, rate, 5), kOk);
  }
  DsdBufferPtr huge;
  EXPECT_NE(NewDsdBuffer(huge, 2822400, UINT64_MAX / 2), kOk);
}

TEST(NewBuffersTest, HonourTheMemoryGuard) {
  testing::FakeMemoryStatus nothingFree(0);
  AudioBufferPtr audio;
  EXPECT_NE(NewAudioBuffer(audio, 44100, 1 << 20, 48), kOk);
  PcmBufferPtr pcm;
  EXPECT_NE(NewPcmBuffer(pcm, kPcmInteger, 2, 16, 44100, 1 << 20), kOk);
  DsdBufferPtr dsd;
  EXPECT_NE(NewDsdBuffer(dsd, 2822400, 1 << 20), kOk);
}

TEST(BufferSlotTest, TakeAsFreesARecordOfAnotherKind) {
  BufferSlot slot;
  DsdBufferPtr dsd;
  ASSERT_EQ(NewDsdBuffer(dsd, 2822400, 1), kOk);
  slot.Put(std::move(dsd));
  EXPECT_NE(slot.Get<DsdBuffer>(), nullptr);
  EXPECT_EQ(slot.Get<AudioBuffer>(), nullptr);
  EXPECT_EQ(slot.TakeAs<AudioBuffer>(), nullptr);
  EXPECT_TRUE(slot.Empty());  // the DSD record was freed (LeakSanitizer watches)

  AudioBufferPtr audio;
  ASSERT_EQ(NewAudioBuffer(audio, 44100, 1, 0), kOk);
  AudioBuffer* raw = audio.get();
  slot.Put(std::move(audio));
  EXPECT_EQ(slot.TakeAs<AudioBuffer>().get(), raw);
  EXPECT_TRUE(slot.Empty());
  slot.Put(AudioBufferPtr{});
  EXPECT_TRUE(slot.Empty());
}

}  // namespace
}  // namespace lumaro::dsp
