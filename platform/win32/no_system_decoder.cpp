// The platform's own decoder on Windows is Media Foundation; until it is built in, this build
// carries none, and every open answers that the format is unknown.
#include "platform/system_decoder.h"

namespace lumaro::platform {

SystemDecoderKind SystemDecoder::Kind() noexcept { return SystemDecoderKind::kMediaFoundation; }

std::unique_ptr<SystemDecoder> SystemDecoder::Open(std::u16string_view) noexcept { return nullptr; }

}  // namespace lumaro::platform
