#include "decode/ffmpeg_reader.h"

#include "decode/child_run.h"
#include "decode/outside_components.h"
#include "decode/wav_stream.h"
#include "platform/failure.h"
#include "platform/os.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrNoMemory = FirstCode(FailureSite::kFfmpegReader),
  kErrStream,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kFfmpegReader,
    kErrStream,
    {"no memory for the FFmpeg run", "FFmpeg stream unusable"}};

// The converter's arguments: quiet, the track, no video, 64-bit float stereo WAV to standard
// output. The rate is left to the converter.
std::vector<std::u16string> FfmpegArguments(std::u16string_view path) {
  return {u"-v",  u"quiet",   u"-i",        std::u16string(path),
          u"-vn", u"-acodec", u"pcm_f64le", u"-ac",
          u"2",   u"-f",      u"wav",       u"-"};
}

}  // namespace

Result ReadWithFfmpeg(std::u16string_view path, dsp::BufferSlot& slot,
                      const platform::StopWord& stop) {
  slot.Clear();
  try {
    ChildRun run;
    run.readPieceBytes = kAudioReadPieceBytes;
    if (const Result found = FindBesideProgram(FfmpegFileName(), path, &run.program);
        found != kOk) {
      return found;
    }
    run.arguments = FfmpegArguments(path);
    std::unique_ptr<dsp::PagedBuffer> output;
    if (const Result ran = RunChild(run, stop, &output); ran != kOk) return ran;
    PagedBytes bytes(*output);
    FloatWavStream stream;
    if (ParseFloatWavStream(bytes, &stream) != kOk) return kFailures.Note(kErrStream, path);
    return CopyFloatFrames(*output, stream.dataOffset, stream.frames, stream.sampleRate, slot);
  } catch (const std::bad_alloc&) {
    slot.Clear();
    return kFailures.Note(kErrNoMemory, path);
  }
}

}  // namespace lumaro::decode
