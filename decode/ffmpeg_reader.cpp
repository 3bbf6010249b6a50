#include "decode/ffmpeg_reader.h"

#include "platform/failure.h"

namespace lumaro::decode {
namespace {
enum : Result { kErrNotBuilt = FirstCode(FailureSite::kFfmpegReader) };
constexpr platform::FailureNames kFailures{
    FailureSite::kFfmpegReader, kErrNotBuilt, {"FFmpeg reader not built"}};
}  // namespace

Result ReadWithFfmpeg(std::u16string_view path, dsp::BufferSlot& slot, const platform::StopWord&) {
  slot.Clear();
  return kFailures.Note(kErrNotBuilt, path);
}

}  // namespace lumaro::decode
