#include "decode/fm_music_reader.h"

#include "platform/failure.h"

namespace lumaro::decode {
namespace {
enum : Result { kErrNotBuilt = FirstCode(FailureSite::kFmMusicReader) };
constexpr platform::FailureNames kFailures{
    FailureSite::kFmMusicReader, kErrNotBuilt, {"FM-music reader not built"}};
}  // namespace

Result ReadFmMusic(std::u16string_view path, dsp::BufferSlot& slot, const platform::StopWord&,
                   std::uint32_t, std::uint32_t) {
  slot.Clear();
  return kFailures.Note(kErrNotBuilt, path);
}

}  // namespace lumaro::decode
