#include "dsp/dsd_buffer.h"

#include <cstring>
#include <new>

#include "platform/failure.h"

namespace lumaro::dsp {
namespace {
enum : Result { kErrRate = FirstCode(FailureSite::kDsdBuffer), kErrTooLarge, kErrNoMemory };
constexpr platform::FailureNames kFailures{
    FailureSite::kDsdBuffer,
    kErrNoMemory,
    {"DSD buffer rate not supported", "DSD buffer too large", "no memory for a DSD buffer"}};

// NewDsdBuffer, with the data's silence written only when `fillData` is set.
Result MakeDsdBuffer(DsdBufferPtr& out, std::uint32_t dsdRate, std::uint64_t length,
                     bool fillData) noexcept {
  out.reset();
  if (!IsDsdRate(dsdRate)) return kFailures.Note(kErrRate);
  const Size128 samples = (static_cast<Size128>(length) + 2 * kDsdLeadIn) * 2;
  const Size128 size = sizeof(DsdBuffer) + samples;
  if (size > kMaxBlock63) return kFailures.Note(kErrTooLarge);
  void* block = GuardedAlloc(static_cast<std::uint64_t>(size));
  if (block == nullptr) return kFailures.Note(kErrNoMemory);
  auto* buffer = new (block) DsdBuffer;
  buffer->dsdRate = dsdRate;
  buffer->length = length;
  buffer->leadIn = kDsdLeadIn;
  if (fillData) {
    std::memset(buffer->Samples(), kDsdSilence, static_cast<std::size_t>(samples));
  } else {
    std::memset(buffer->Samples(), kDsdSilence, 2 * kDsdLeadIn);
    std::memset(buffer->Data() + 2 * length, kDsdSilence, 2 * kDsdLeadIn);
  }
  out.reset(buffer);
  return kOk;
}

}  // namespace

bool IsDsdRate(std::uint32_t rate) noexcept {
  for (std::uint32_t known : kDsdRates) {
    if (rate == known) return true;
  }
  return false;
}

Result NewDsdBuffer(DsdBufferPtr& out, std::uint32_t dsdRate, std::uint64_t length) noexcept {
  return MakeDsdBuffer(out, dsdRate, length, true);
}

Result NewDsdBufferToOverwrite(DsdBufferPtr& out, std::uint32_t dsdRate,
                               std::uint64_t length) noexcept {
  return MakeDsdBuffer(out, dsdRate, length, false);
}

}  // namespace lumaro::dsp
