#pragma once

#include <cstdint>
#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

// The last resort: the platform's own decoder (platform/system_decoder.h) turns the file into an
// AudioBuffer. The whole decoded stream is collected first, so the buffer is allocated once at its
// exact size. Left and right are the first two channels (a mono source on both), further channels
// are dropped; integer samples become s / 2^(B-1) exactly and non-finite samples 0.0. `stop` is
// polled after every piece decoded and between runs of converted frames. Answers 0 with the
// buffer in `slot` and in `*bits` the float width delivered (32 for a file of 32-bit floats, 64
// otherwise); nonzero otherwise (also for a stop) with `slot` empty. Playback thread.
[[nodiscard]] Result ReadWithPlatformDecoder(std::u16string_view path, dsp::BufferSlot& slot,
                                             std::uint32_t* bits, const platform::StopWord& stop);

// The progress text shown while the platform decoder reads: the one of the decoder this build
// carries. Any thread.
[[nodiscard]] std::u16string_view PlatformDecoderStatus() noexcept;

}  // namespace lumaro::decode
