#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "dsp/bit_reverse.h"
#include "dsp/clip_guard.h"
#include "dsp/float_to_output.h"
#include "dsp/guarded_alloc.h"
#include "dsp/pack_dop.h"
#include "dsp/reverse_dsd_bits.h"
#include "dsp/swap_to_big_endian.h"
#include "tests/support/audio_slot.h"

namespace lumaro::dsp {
namespace {

using ::testing::ElementsAreArray;
using Bytes = std::vector<unsigned char>;
using lumaro::testing::ByteRamp;
using lumaro::testing::RealBytes;

// Bytes written as hex digits, two per byte: "FF7F" is {0xFF, 0x7F}.
Bytes Hex(std::string_view digits) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoi(std::string(digits.substr(i, 2)), 0, 16)));
  }
  return out;
}

// A sample whose product with `scale` is exactly `product`, so rounding ties can be tested.
double Exactly(double product, double scale) {
  const double x = product / scale;
  EXPECT_EQ(x * scale, product);
  return x;
}

TEST(FloatToOutputTest, BytesOfEachLayout) {
  const double tie = Exactly(0.5, 32767.0);
  const std::tuple<const char*, std::vector<double>, unsigned, unsigned, bool, Bytes> cases[] = {
      {"16: full scale", {1.0, -1.0}, 16, 16, false, Hex("FF7F0180")},
      {"24: full scale", {1.0, -1.0}, 24, 24, false, Hex("FFFF7F010080")},
      {"32: full scale", {1.0, -1.0}, 32, 32, false, Hex("FFFFFF7F01000080")},
      {"16 in 24", {1.0, -1.0}, 16, 24, false, Hex("00FF7F000180")},
      {"16 in 32", {1.0, -1.0}, 16, 32, false, Hex("0000FF7F00000180")},
      {"24 in 32", {1.0, -1.0}, 24, 32, false, Hex("00FFFF7F00010080")},
      {"ties to even", {tie, 3 * tie, -5 * tie, 0.0}, 16, 16, false, Hex("00000200FEFF0000")},
      {"peak 2.0 is halved", {2.0, 1.0}, 16, 16, false, Hex("FF7F0040")},
      {"float", {0.5, -1.0}, 32, 32, true, Hex("0000003F000080BF")},
      {"float flag ignored below 32 bits", {1.0, 0.0}, 16, 16, true, Hex("FF7F0000")},
      {"not a number becomes 0", {std::nan(""), 1.0}, 16, 16, false, Hex("0000FF7F")},
  };
  for (const auto& [name, in, valid, container, asFloat, out] : cases) {
    BufferSlot slot = lumaro::testing::AudioSlot(in, 96000);
    ASSERT_EQ(FloatToOutput(slot, valid, container, asFloat, platform::StopWord{}), kOk) << name;
    const PcmBuffer* pcm = slot.Get<PcmBuffer>();
    EXPECT_EQ(pcm->bits, container) << name;
    EXPECT_EQ(pcm->sampleRate, 96000U) << name;
    EXPECT_EQ(pcm->sampleFormat, asFloat && valid == 32 ? kPcmFloat : kPcmInteger) << name;
    EXPECT_THAT(RealBytes(slot), ElementsAreArray(out)) << name;
  }
}

// Long conversions go four frames at a time through the processor's vector unit where it has
// one, split among workers (in the record's own block in levels from the first frame, or with a
// lead-in too short for that, in blocks into a new record), single frames one by one: every
// frame of a long record must become the bytes it becomes alone. The right channel holds the
// record's peak in every frame (within full scale, beyond it, infinite), so a frame alone has the
// same gain.
TEST(FloatToOutputTest, LongRecordsEqualTheirFramesConvertedOneByOne) {
  const lumaro::testing::ScopedWorkerCount workers(3);
  const double tie = Exactly(0.5, 32767.0);
  const std::vector<double> left = {1.0,  -1.0,    tie,      3 * tie, -5 * tie, std::nan(""), 0.0,
                                    -0.0, 1e-300,  0.999999, -0.4,    0.75,     0.45,         -1e-9,
                                    0.5,  7 * tie, -0.999,   0.3,     -0.45,    -0.7,         0.6};
  constexpr std::uint64_t kFrames = 3 * 8192 + 7;  // three blocks and a tail
  const std::tuple<unsigned, unsigned, bool> formats[] = {
      {16, 16, false}, {24, 24, false}, {32, 32, false}, {16, 24, false},
      {16, 32, false}, {24, 32, false}, {32, 32, true}};
  for (const double peak : {1.0, 1.7, -static_cast<double>(INFINITY)}) {
    std::vector<double> samples;
    for (std::uint64_t f = 0; f < kFrames; ++f) {
      samples.insert(samples.end(), {left[f % left.size()] * (f % 2 == 0 ? 1.0 : 0.999), peak});
    }
    for (const auto& [valid, container, asFloat] : formats) {
      const std::uint64_t leadIn = valid == container ? 48 : 2;
      SCOPED_TRACE(::testing::Message() << "peak " << peak << ", " << valid << "/" << container
                                        << (asFloat ? " float" : "") << ", lead-in " << leadIn);
      BufferSlot slot = lumaro::testing::AudioSlot(samples, 44100, leadIn);
      ASSERT_EQ(FloatToOutput(slot, valid, container, asFloat, platform::StopWord{}), kOk);
      const Bytes all = RealBytes(slot);
      const std::size_t frameBytes = all.size() / kFrames;
      // The peak the clip guard tells spares the conversion its pass, with the same bytes.
      BufferSlot guarded = lumaro::testing::AudioSlot(samples);
      BufferSlot told = lumaro::testing::AudioSlot(samples);
      double peakAfter = 0.0;
      ASSERT_EQ(ClipGuard(guarded, platform::StopWord{}), kOk);
      ASSERT_EQ(FloatToOutput(guarded, valid, container, asFloat, platform::StopWord{}), kOk);
      ASSERT_EQ(ClipGuardTellingPeak(told, platform::StopWord{}, &peakAfter), kOk);
      ASSERT_EQ(
          FloatToOutputWithPeak(told, {valid, container, asFloat}, peakAfter, platform::StopWord{}),
          kOk);
      EXPECT_EQ(RealBytes(told), RealBytes(guarded));
      for (std::uint64_t f = 0; f < kFrames; f += (f % 8192 < 30 || f > kFrames - 30) ? 1 : 97) {
        BufferSlot one = lumaro::testing::AudioSlot({samples[2 * f], samples[2 * f + 1]});
        ASSERT_EQ(FloatToOutput(one, valid, container, asFloat, platform::StopWord{}), kOk);
        EXPECT_THAT(Bytes(all.begin() + f * frameBytes, all.begin() + (f + 1) * frameBytes),
                    ElementsAreArray(RealBytes(one)))
            << "frame " << f;
      }
    }
  }
}

// A DsdBuffer whose left bytes are 0x01, 0x02, 0x03 … and right bytes 0x81, 0x82, 0x83 ….
BufferSlot Dsd(std::uint32_t rate, std::uint64_t length) {
  return lumaro::testing::DsdSlot(rate, length, ByteRamp(1, 1), ByteRamp(1, 0x81));
}

TEST(PackDopTest, FramesMarkersAndBitOrder) {
  // rev(0x01) = 0x80, rev(0x02) = 0x40, rev(0x81) = 0x81, rev(0x82) = 0x41, …
  const std::tuple<unsigned, std::uint32_t, std::uint32_t, Bytes> cases[] = {
      {24, 2822400, 176400, Hex("40800541810520C0FA21C1FA")},
      {24, 11289600, 705600, Hex("40800541810520C0FA21C1FA")},
      {32, 5644800, 352800, Hex("00408005004181050020C0FA0021C1FA")},
  };
  for (const auto& [container, dsdRate, dopRate, out] : cases) {
    BufferSlot slot = Dsd(dsdRate, 7);  // 7 / 2 = 3 frames, rounded down to 2
    ASSERT_EQ(PackDop(slot, container, platform::StopWord{}), kOk);
    const PcmBuffer* pcm = slot.Get<PcmBuffer>();
    EXPECT_EQ(pcm->frameCount, 2U);
    EXPECT_EQ(pcm->sampleRate, dopRate);
    EXPECT_EQ(pcm->bits, container);
    EXPECT_THAT(RealBytes(slot), ElementsAreArray(out));
  }
}

// Long records go four frames at a time through the processor's vector unit where it has one,
// split among workers at odd frames too: every frame must be the bytes that frame has in a
// two-frame record of the same byte pairs (packed one by one), its marker included.
TEST(PackDopTest, LongRecordsEqualTheirFramesPackedTwoByTwo) {
  const lumaro::testing::ScopedWorkerCount workers(2);  // 14 frames: slices from 0 and 7
  constexpr std::uint64_t kFrames = 14;
  for (const unsigned container : {24U, 32U}) {
    BufferSlot slot =
        lumaro::testing::DsdSlot(5644800, 2 * kFrames + 1, ByteRamp(37, 1), ByteRamp(53, 0x81));
    ASSERT_EQ(PackDop(slot, container, platform::StopWord{}), kOk);
    const Bytes all = RealBytes(slot);
    const std::size_t frameBytes = container / 4;
    ASSERT_EQ(all.size(), kFrames * frameBytes);
    for (std::uint64_t f = 0; f < kFrames; ++f) {
      const std::uint64_t pair = 2 * (f - f % 2);  // the first byte pair of the two frames
      BufferSlot two = lumaro::testing::DsdSlot(5644800, 4, ByteRamp(37, 1 + 37 * pair),
                                                ByteRamp(53, 0x81 + 53 * pair));
      ASSERT_EQ(PackDop(two, container, platform::StopWord{}), kOk);
      const Bytes expected = RealBytes(two);
      EXPECT_THAT(Bytes(all.begin() + f * frameBytes, all.begin() + (f + 1) * frameBytes),
                  ElementsAreArray(expected.begin() + (f % 2) * frameBytes,
                                   expected.begin() + (f % 2 + 1) * frameBytes))
          << container << ": frame " << f;
    }
  }
}

// A record of 32 MiB and more is packed in its own block, grown to the DoP record's length, from
// the end back. Every frame must still be its own byte pairs, bit-reversed, beside its marker, with
// zeroed lead-ins; the bytes are scrambled, so that a frame taken from the wrong place shows.
TEST(PackDopTest, ALargeRecordPackedInItsOwnBlockKeepsEveryFrame) {
  const lumaro::testing::ScopedWorkerCount workers(3);
  constexpr std::uint64_t kLength = 17'000'001;  // bytes per channel: a 34 MB record
  const auto scrambled = [](unsigned salt) {
    return [salt](std::uint64_t i) {
      return static_cast<unsigned char>(((i + salt) * 2654435761ULL) >> 13);
    };
  };
  for (const unsigned container : {24U, 32U}) {
    BufferSlot slot = lumaro::testing::DsdSlot(2822400, kLength, scrambled(0), scrambled(99));
    ReleaseFreeBlocks();
    ASSERT_EQ(PackDop(slot, container, platform::StopWord{}), kOk);
#ifndef _WIN32
    EXPECT_EQ(KeptFreeBytes(), 0U) << "a new block was taken and the record's freed";
#endif
    const PcmBuffer& pcm = *slot.Get<PcmBuffer>();
    ASSERT_EQ(pcm.frameCount, kLength / 2);
    EXPECT_EQ(pcm.sampleRate, 176400U);
    EXPECT_EQ(pcm.bits, container);
    const std::size_t frameBytes = container / 4;
    const unsigned char* data = pcm.Data();
    std::uint64_t wrong = 0;
    for (std::uint64_t f = 0; f < pcm.frameCount; ++f) {
      const unsigned char marker = f % 2 == 0 ? kDopMarker : kDopMarkerAlternate;
      const unsigned char* at = data + f * frameBytes;
      for (unsigned c = 0; c < 2; ++c, at += frameBytes / 2) {
        const auto channel = scrambled(c == 0 ? 0 : 99);
        const unsigned char expected[] = {0, kBitReversed[channel(2 * f + 1)],
                                          kBitReversed[channel(2 * f)], marker};
        wrong += std::memcmp(at, expected + (container == 24 ? 1 : 0), frameBytes / 2) != 0;
      }
    }
    EXPECT_EQ(wrong, 0U) << container;
    const std::size_t leadIn = kPcmLeadIn * frameBytes;
    const unsigned char* end = data + pcm.frameCount * frameBytes;
    EXPECT_EQ(std::count(data - leadIn, data, 0) + std::count(end, end + leadIn, 0),
              static_cast<std::ptrdiff_t>(2 * leadIn))
        << container;
  }
}

TEST(SwapToBigEndianTest, EveryContainerAndValidWidth) {
  const std::tuple<const char*, std::uint8_t, unsigned, Bytes, Bytes> cases[] = {
      {"16", 16, 16, Hex("0102FF7F"), Hex("02017FFF")},
      {"24", 24, 24, Hex("010203040506"), Hex("030201060504")},
      {"32", 32, 32, Hex("0102030405060708"), Hex("0403020108070605")},
      {"24 in 32: -1 and +1", 32, 24, Hex("00FFFFFF00010000"), Hex("FFFFFFFF00000001")},
      {"16 in 32: -2 and 0x1234", 32, 16, Hex("0000FEFF00003412"), Hex("FFFFFFFE00001234")},
      {"20 valid: left alone", 32, 20, Hex("0102030405060708"), Hex("0102030405060708")},
  };
  for (const auto& [name, container, valid, in, out] : cases) {
    BufferSlot slot = lumaro::testing::PcmSlot(kPcmInteger, 2, container, in, 48000);
    SwapToBigEndian(slot, valid);
    EXPECT_THAT(RealBytes(slot), ElementsAreArray(out)) << name;
    EXPECT_EQ(slot.Get<PcmBuffer>()->Samples()[0], 0) << name;  // lead-in untouched
  }
}

TEST(ReverseDsdBitsTest, ReversesTheDataButNotTheLeadIn) {
  BufferSlot slot = Dsd(2822400, 3);
  ReverseDsdBits(slot);
  const DsdBuffer* dsd = slot.Get<DsdBuffer>();
  EXPECT_THAT(Bytes(dsd->Data(), dsd->Data() + 6), ElementsAreArray(Hex("80814041C0C1")));
  EXPECT_EQ(dsd->Samples()[0], kDsdSilence);
  EXPECT_EQ(dsd->Data()[6], kDsdSilence);
}

// Eight bytes at a time and the rest one by one, in place or into another area, from any
// alignment: every byte value reversed by the rule (bit i to bit 7 − i), nothing past the end.
TEST(ReverseDsdBitsTest, ReversesEveryByteAtEveryLengthAndAlignment) {
  std::vector<std::uint8_t> in(256 + 24);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const auto reversed = [](std::uint8_t b) {
    unsigned r = 0;
    for (unsigned bit = 0; bit < 8; ++bit) r |= ((b >> bit) & 1U) << (7 - bit);
    return static_cast<std::uint8_t>(r);
  };
  for (const bool inPlace : {false, true}) {
    for (std::size_t offset = 0; offset < 8; ++offset) {
      for (const std::size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 256}) {
        std::vector<std::uint8_t> out = in;
        const std::size_t at = inPlace ? offset : offset + 3;
        ReverseBitsOf((inPlace ? out.data() : in.data()) + offset, out.data() + at, n);
        for (std::size_t i = 0; i < out.size(); ++i) {
          const bool written = i >= at && i < at + n;
          ASSERT_EQ(out[i], written ? reversed(in[i - at + offset]) : in[i])
              << inPlace << " " << offset << " " << n << " " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace lumaro::dsp
