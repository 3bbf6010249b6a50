#pragma once

#include <cstdint>
#include <span>

#include "dsp/audio_buffer.h"
#include "dsp/buffer_slot.h"
#include "platform/os.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// Taps on each side of the centre of the filter for factor F: 6F (the filter has 12F taps).
constexpr std::uint64_t DecimationHalfTaps(std::uint32_t factor) { return 6ULL * factor; }

// The half of the low-pass filter for factor 2, 4 or 8 from the centre outward, h[0] … h[6F − 1];
// the other half mirrors it about −½ (h[−1 − m] = h[m]). Empty for any other factor.
std::span<const double> DecimationFilter(std::uint32_t factor) noexcept;

// Decimate's checks of `in` for factor F (their failures, noted); N / F in `frames`.
[[nodiscard]] Result CheckDecimation(const AudioBuffer& in, std::uint32_t factor,
                                     std::uint64_t* frames);

// Writes output frames [first, first + count) of the decimation by F (2, 4 or 8) into `y`, from
// `in` whose lead-ins are mirrored: each frame depends on the input alone, so any split gives the
// frames of the whole. Polls `stop` every kStopPollFrames frames. Any thread.
void DecimateRange(const AudioBuffer& in, std::uint32_t factor, std::uint64_t first,
                   std::uint64_t count, double* y, const platform::StopWord& stop);

// Replaces the AudioBuffer in the slot by one at rate / F (lead-in 48) with N / F frames:
// y[f] = Σ h[j] · x[F·f + j] over j = −6F … 6F − 1, reading into the mirrored lead-ins at both
// ends. The filter sums to 0.999997 and is used as it is. One worker thread. Fails unless F is
// 2, 4 or 8, the rate is at least F × 8000 and divisible by F, the lead-in is at least 6F frames
// and N / F is not 0; also for a refused allocation, a worker that cannot start or a stop
// request. The source is freed in every case; on failure the slot is empty. Playback thread.
[[nodiscard]] Result Decimate(BufferSlot& slot, std::uint32_t factor,
                              const platform::StopWord& stop,
                              platform::ThreadStarter& threads = platform::SystemThreads());

}  // namespace lumaro::dsp
