#include "decode/fm_music_reader.h"

#include <array>

#include "decode/child_run.h"
#include "decode/outside_components.h"
#include "dsp/pcm_buffer.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrProgramPath = FirstCode(FailureSite::kFmMusicReader),
  kErrTrack,
  kErrLineTooLong,
  kErrNoFrames,
  kErrShortStore,
  kErrNoMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kFmMusicReader,
    kErrNoMemory,
    {"program path unusable", "not an FM-music file", "FM-music command line too long",
     "FM-music child wrote no frames", "output store shorter than its frames",
     "no memory for the FM-music run"}};

constexpr std::u16string_view kChildSwitch = u"/FMPMD";
constexpr std::u16string_view kOn = u"1";
constexpr std::u16string_view kOff = u"0";
constexpr std::uint8_t kChannels = 2;
constexpr std::uint8_t kBits = 16;
constexpr std::uint32_t kRate = 44100;
constexpr std::uint64_t kFrameBytes = 4;
// The command line around the track path: the switch with its quote before it, the closing
// quote and a space, then the two flags with a space before the second.
constexpr std::uint64_t kLineAroundPath = 14;

bool IsFmTrack(std::u16string_view path) {
  return IsExistingFile(path) &&
         (HasExtension(path, kWinfmpExtensions) || HasExtension(path, kPmdwinExtensions));
}

// Copies the whole frames of the child's output into a new PcmBuffer in `slot`.
Result MakePcmBuffer(dsp::PagedBuffer& output, std::u16string_view path, dsp::BufferSlot& slot) {
  const std::uint64_t frames = output.Length() / kFrameBytes;
  if (frames == 0) return kFailures.Note(kErrNoFrames, path);
  dsp::PcmBufferPtr buffer;
  if (const Result made =
          dsp::NewPcmBuffer(buffer, dsp::kPcmInteger, kChannels, kBits, kRate, frames);
      made != kOk) {
    return made;
  }
  const std::uint64_t bytes = frames * kFrameBytes;
  if (!output.SetPosition(0) || output.Read(buffer->Data(), bytes) != bytes) {
    return kFailures.Note(kErrShortStore, path);
  }
  slot.Put(std::move(buffer));
  return kOk;
}

Result Render(std::u16string_view path, dsp::BufferSlot& slot, const platform::StopWord& stop,
              std::uint32_t pps, std::uint32_t ssgRhy) {
  ChildRun run;
  run.readPieceBytes = kFmReadPieceBytes;
  std::u16string directory;
  if (!ProgramDirectory(&directory) || !platform::SetCurrentDirectory(directory)) {
    return kFailures.Note(kErrProgramPath);
  }
  run.program = platform::ExecutablePath();
  if (!IsFmTrack(path)) return kFailures.Note(kErrTrack, path);
  if (!CommandLineFits(kLineAroundPath + path.size())) {
    return kFailures.Note(kErrLineTooLong, path);
  }
  run.arguments = {std::u16string(kChildSwitch), std::u16string(path),
                   std::u16string(pps != 0 ? kOn : kOff), std::u16string(ssgRhy != 0 ? kOn : kOff)};
  std::unique_ptr<dsp::PagedBuffer> output;
  if (const Result ran = RunChild(run, stop, &output); ran != kOk) return ran;
  return MakePcmBuffer(*output, path, slot);
}

}  // namespace

Result ReadFmMusic(std::u16string_view path, dsp::BufferSlot& slot, const platform::StopWord& stop,
                   std::uint32_t pps, std::uint32_t ssgRhy) {
  slot.Clear();
  try {
    return Render(path, slot, stop, pps, ssgRhy);
  } catch (const std::bad_alloc&) {
    slot.Clear();
    return kFailures.Note(kErrNoMemory, path);
  }
}

}  // namespace lumaro::decode
