#include "decode/platform_decoder_reader.h"

#include "platform/failure.h"

namespace lumaro::decode {
namespace {
enum : Result { kErrNotBuilt = FirstCode(FailureSite::kPlatformDecoderReader) };
constexpr platform::FailureNames kFailures{
    FailureSite::kPlatformDecoderReader, kErrNotBuilt, {"platform decoder not built"}};
}  // namespace

Result ReadWithPlatformDecoder(std::u16string_view path, dsp::BufferSlot& slot, std::uint32_t*,
                               const platform::StopWord&) {
  slot.Clear();
  return kFailures.Note(kErrNotBuilt, path);
}

}  // namespace lumaro::decode
