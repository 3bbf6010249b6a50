#pragma once

#include <cstdint>

namespace lumaro::context {

// The process-wide gate that lets one playback at a time run its steps. It starts at 1; a
// thread holds it when its decrement saw 1. Any thread; the only read-modify-write word.

// Takes the gate: true when taken (release it with ReleasePlaybackGate). On false the gate is
// left as it was.
[[nodiscard]] bool TryTakePlaybackGate() noexcept;

// Gives a taken gate back.
void ReleasePlaybackGate() noexcept;

// How long a thread that waits for the gate sleeps before it asks the playback to stop again.
inline constexpr std::uint32_t kGateRetryMilliseconds = 1;

// Waits until the gate is given back or `milliseconds` have passed, without polling; answers
// whether it was free when the wait ended (another thread may take it at once).
// Only ReleasePlaybackGate wakes the waiters: a failed take that puts the gate back in between
// does not, so a wait can sleep its whole time although the gate is free. Keep `milliseconds`
// short (the callers ask again every millisecond).
[[nodiscard]] bool WaitForPlaybackGate(std::uint32_t milliseconds) noexcept;

// True when no playback holds the gate (a probe: decrement and increment back).
[[nodiscard]] bool PlaybackGateFree() noexcept;

}  // namespace lumaro::context
