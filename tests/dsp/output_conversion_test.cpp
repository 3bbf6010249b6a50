#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dsp/float_to_output.h"
#include "dsp/pack_dop.h"
#include "dsp/reverse_dsd_bits.h"
#include "dsp/swap_to_big_endian.h"
#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using ::testing::ElementsAreArray;
using Bytes = std::vector<unsigned char>;
using lumaro::testing::RealBytes;

BufferSlot Frames(const std::vector<double>& samples) {
  return lumaro::testing::AudioSlot(samples, 96000);
}

// A sample whose product with `scale` is exactly `product`, so rounding ties can be tested.
double Exactly(double product, double scale) {
  const double x = product / scale;
  EXPECT_EQ(x * scale, product);
  return x;
}

TEST(FloatToOutputTest, BytesOfEachLayout) {
  const double tie = Exactly(0.5, 32767.0);
  struct Case {
    const char* name;
    std::vector<double> in;
    unsigned valid, container;
    bool asFloat;
    Bytes out;
  } const cases[] = {
      {"16: full scale", {1.0, -1.0}, 16, 16, false, {0xFF, 0x7F, 0x01, 0x80}},
      {"24: full scale", {1.0, -1.0}, 24, 24, false, {0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x80}},
      {"32: full scale",
       {1.0, -1.0},
       32,
       32,
       false,
       {0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80}},
      {"16 in 24", {1.0, -1.0}, 16, 24, false, {0x00, 0xFF, 0x7F, 0x00, 0x01, 0x80}},
      {"16 in 32", {1.0, -1.0}, 16, 32, false, {0x00, 0x00, 0xFF, 0x7F, 0x00, 0x00, 0x01, 0x80}},
      {"24 in 32", {1.0, -1.0}, 24, 32, false, {0x00, 0xFF, 0xFF, 0x7F, 0x00, 0x01, 0x00, 0x80}},
      {"ties to even: 0.5, 1.5, -2.5",
       {tie, 3 * tie, -5 * tie, 0.0},
       16,
       16,
       false,
       {0x00, 0x00, 0x02, 0x00, 0xFE, 0xFF, 0x00, 0x00}},
      {"peak 2.0 is halved", {2.0, 1.0}, 16, 16, false, {0xFF, 0x7F, 0x00, 0x40}},
      {"float", {0.5, -1.0}, 32, 32, true, {0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0xBF}},
      {"float flag ignored below 32 bits", {1.0, 0.0}, 16, 16, true, {0xFF, 0x7F, 0x00, 0x00}},
      {"not a number becomes 0", {std::nan(""), 1.0}, 16, 16, false, {0x00, 0x00, 0xFF, 0x7F}},
  };
  for (const auto& c : cases) {
    BufferSlot slot = Frames(c.in);
    ASSERT_EQ(FloatToOutput(slot, c.valid, c.container, c.asFloat, platform::StopWord{}), kOk)
        << c.name;
    const PcmBuffer* pcm = slot.Get<PcmBuffer>();
    EXPECT_EQ(pcm->bits, c.container) << c.name;
    EXPECT_EQ(pcm->sampleRate, 96000U) << c.name;
    EXPECT_EQ(pcm->sampleFormat, c.asFloat && c.valid == 32 ? kPcmFloat : kPcmInteger) << c.name;
    EXPECT_THAT(RealBytes(slot), ElementsAreArray(c.out)) << c.name;
  }
}

// A DsdBuffer whose left bytes are 0x01, 0x02, 0x03 … and right bytes 0x81, 0x82, 0x83 ….
BufferSlot Dsd(std::uint32_t rate, std::uint64_t length) {
  return lumaro::testing::DsdSlot(
      rate, length, [](std::uint64_t i) { return static_cast<unsigned char>(i + 1); },
      [](std::uint64_t i) { return static_cast<unsigned char>(0x81 + i); });
}

TEST(PackDopTest, FramesMarkersAndBitOrder) {
  // rev(0x01) = 0x80, rev(0x02) = 0x40, rev(0x81) = 0x81, rev(0x82) = 0x41, …
  const Bytes in24 = {0x40, 0x80, 0x05, 0x41, 0x81, 0x05, 0x20, 0xC0, 0xFA, 0x21, 0xC1, 0xFA};
  struct Case {
    unsigned container;
    std::uint32_t dsdRate, dopRate;
    Bytes out;
  } const cases[] = {
      {24, 2822400, 176400, in24},
      {24, 11289600, 705600, in24},
      {32,
       5644800,
       352800,
       {0x00, 0x40, 0x80, 0x05, 0x00, 0x41, 0x81, 0x05, 0x00, 0x20, 0xC0, 0xFA, 0x00, 0x21, 0xC1,
        0xFA}},
  };
  for (const auto& c : cases) {
    BufferSlot slot = Dsd(c.dsdRate, 7);  // 7 / 2 = 3 frames, rounded down to 2
    ASSERT_EQ(PackDop(slot, c.container, platform::StopWord{}), kOk);
    const PcmBuffer* pcm = slot.Get<PcmBuffer>();
    EXPECT_EQ(pcm->frameCount, 2U);
    EXPECT_EQ(pcm->sampleRate, c.dopRate);
    EXPECT_EQ(pcm->bits, c.container);
    EXPECT_THAT(RealBytes(slot), ElementsAreArray(c.out));
  }
}

TEST(SwapToBigEndianTest, EveryContainerAndValidWidth) {
  struct Case {
    const char* name;
    std::uint8_t container;
    unsigned valid;
    Bytes in, out;
  } const cases[] = {
      {"16", 16, 16, {0x01, 0x02, 0xFF, 0x7F}, {0x02, 0x01, 0x7F, 0xFF}},
      {"24", 24, 24, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, {0x03, 0x02, 0x01, 0x06, 0x05, 0x04}},
      {"32", 32, 32, {1, 2, 3, 4, 5, 6, 7, 8}, {4, 3, 2, 1, 8, 7, 6, 5}},
      {"24 in 32: -1 and +1",
       32,
       24,
       {0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00},
       {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01}},
      {"16 in 32: -2 and 0x1234",
       32,
       16,
       {0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x34, 0x12},
       {0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x00, 0x12, 0x34}},
      {"32 container with 20 valid bits is left alone",
       32,
       20,
       {1, 2, 3, 4, 5, 6, 7, 8},
       {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const auto& c : cases) {
    PcmBufferPtr pcm;
    ASSERT_EQ(NewPcmBuffer(pcm, kPcmInteger, 2, c.container, 48000, 1), kOk);
    std::memcpy(pcm->Data(), c.in.data(), c.in.size());
    BufferSlot slot;
    slot.Put(std::move(pcm));
    SwapToBigEndian(slot, c.valid);
    EXPECT_THAT(RealBytes(slot), ElementsAreArray(c.out)) << c.name;
    EXPECT_EQ(slot.Get<PcmBuffer>()->Samples()[0], 0) << c.name;  // lead-in untouched
  }
}

TEST(ReverseDsdBitsTest, ReversesTheDataButNotTheLeadIn) {
  BufferSlot slot = Dsd(2822400, 3);
  ReverseDsdBits(slot);
  const DsdBuffer* dsd = slot.Get<DsdBuffer>();
  EXPECT_THAT(Bytes(dsd->Data(), dsd->Data() + 6),
              ElementsAreArray({0x80, 0x81, 0x40, 0x41, 0xC0, 0xC1}));
  EXPECT_EQ(dsd->Samples()[0], kDsdSilence);
  EXPECT_EQ(dsd->Data()[6], kDsdSilence);
}

}  // namespace
}  // namespace lumaro::dsp
