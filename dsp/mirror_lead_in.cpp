#include "dsp/mirror_lead_in.h"

namespace lumaro::dsp {
namespace {

// The real frame whose value the symmetric extension puts at offset m past an end (m ≥ 0):
// m, then back from the other end, and so on with period 2N.
std::uint64_t Reflected(std::uint64_t m, std::uint64_t frames) noexcept {
  const std::uint64_t r = m % (2 * frames);
  return r < frames ? r : 2 * frames - 1 - r;
}

}  // namespace

std::uint64_t MirroredFrame(std::int64_t frame, std::uint64_t frames) noexcept {
  if (frame < 0) return Reflected(static_cast<std::uint64_t>(-1 - frame), frames);
  const auto at = static_cast<std::uint64_t>(frame);
  return at < frames ? at : frames - 1 - Reflected(at - frames, frames);
}

void MirrorLeadIn(AudioBuffer& buffer) noexcept {
  const std::uint64_t n = buffer.frameCount;
  if (n == 0) return;
  for (std::uint64_t m = 0; m < buffer.leadIn; ++m) {
    const auto at = static_cast<std::int64_t>(m);
    const auto before = static_cast<std::int64_t>(MirroredFrame(-1 - at, n));
    const auto after =
        static_cast<std::int64_t>(MirroredFrame(static_cast<std::int64_t>(n) + at, n));
    double* head = buffer.Frame(-1 - static_cast<std::int64_t>(m));
    double* tail = buffer.Frame(static_cast<std::int64_t>(n + m));
    head[0] = buffer.Frame(before)[0];
    head[1] = buffer.Frame(before)[1];
    tail[0] = buffer.Frame(after)[0];
    tail[1] = buffer.Frame(after)[1];
  }
}

}  // namespace lumaro::dsp
