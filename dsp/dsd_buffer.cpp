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

}  // namespace

bool IsDsdRate(std::uint32_t rate) noexcept {
  for (std::uint32_t known : kDsdRates) {
    if (rate == known) return true;
  }
  return false;
}

Result NewDsdBuffer(DsdBufferPtr& out, std::uint32_t dsdRate, std::uint64_t length) noexcept {
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
  std::memset(buffer->Samples(), kDsdSilence, static_cast<std::size_t>(samples));
  out.reset(buffer);
  return kOk;
}

}  // namespace lumaro::dsp
