#pragma once

namespace lumaro::context {

// The process-wide gate that lets one playback at a time run its steps. It starts at 1; a
// thread holds it when its decrement saw 1. Any thread; the only read-modify-write word.

// Takes the gate: true when taken (release it with ReleasePlaybackGate). On false the gate is
// left as it was.
[[nodiscard]] bool TryTakePlaybackGate() noexcept;

// Gives a taken gate back.
void ReleasePlaybackGate() noexcept;

// True when no playback holds the gate (a probe: decrement and increment back).
[[nodiscard]] bool PlaybackGateFree() noexcept;

}  // namespace lumaro::context
