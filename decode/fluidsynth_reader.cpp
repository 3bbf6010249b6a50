#include "decode/fluidsynth_reader.h"

#include <array>

#include "decode/child_run.h"
#include "decode/outside_components.h"
#include "dsp/half_wave_limiter.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrNoDirectory = FirstCode(FailureSite::kFluidsynthReader),
  kErrNoSoundFont,
  kErrSoundFont,
  kErrMidiFile,
  kErrLineTooLong,
  kErrNoFrames,
  kErrLimiter,
  kErrNoMemory,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kFluidsynthReader,
    kErrNoMemory,
    {"program directory unusable", "a sound-font slot is empty", "sound font unusable",
     "not a MIDI file", "Fluidsynth command line too long", "Fluidsynth wrote no frames",
     "limiter failed", "no memory for the Fluidsynth run"}};

constexpr std::uint32_t kRenderRate = 44100;
constexpr std::uint64_t kValueBytes = 8;

// The renderer's fixed words: quiet, no chorus, raw 64-bit float to standard output, no
// interactive shell, no MIDI input.
constexpr std::array<std::u16string_view, 10> kFixedArguments = {
    u"-q", u"-C", u"no", u"-T", u"raw", u"-O", u"double", u"-F", u"-", u"-ni"};

// Lengths of the command line's pieces: the fixed part with its opening quote, the separator
// between two quoted paths, and the closing quote.
constexpr std::uint64_t kLineStart = 37;
constexpr std::uint64_t kLineSeparator = 3;
constexpr std::uint64_t kLineEnd = 1;

bool IsMidiFile(std::u16string_view path) {
  return IsExistingFile(path) && HasExtension(path, kMidiExtensions);
}

// The full path of a slot's sound font in the program's directory.
Result SoundFontPath(const std::u16string& directory, std::u16string_view name,
                     std::u16string* path) {
  if (name.empty()) return kFailures.Note(kErrNoSoundFont);
  *path = directory;
  if (!platform::PathAppend(*path, name) || !IsExistingFile(*path) ||
      !HasExtension(*path, std::span(&kSoundFontExtension, 1))) {
    return kFailures.Note(kErrSoundFont, *path);
  }
  return kOk;
}

Result Render(std::u16string_view path, const std::array<std::u16string_view, 3>& names,
              dsp::BufferSlot& slot, const platform::StopWord& stop) {
  std::u16string directory;
  if (!ProgramDirectory(&directory) || !platform::SetCurrentDirectory(directory)) {
    return kFailures.Note(kErrNoDirectory);
  }
  ChildRun run;
  run.readPieceBytes = kAudioReadPieceBytes;
  if (const Result found = FindBesideProgram(FluidsynthFileName(), path, &run.program);
      found != kOk) {
    return found;
  }
  std::array<std::u16string, 3> fonts;
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    if (const Result font = SoundFontPath(directory, names[i], &fonts[i]); font != kOk) {
      return font;
    }
  }
  if (!IsMidiFile(path)) return kFailures.Note(kErrMidiFile, path);
  if (!CommandLineFits(FluidsynthCommandLineLength(fonts, path))) {
    return kFailures.Note(kErrLineTooLong, path);
  }
  run.arguments = FluidsynthArguments(fonts, names, path);

  std::unique_ptr<dsp::PagedBuffer> output;
  if (const Result ran = RunChild(run, stop, &output); ran != kOk) return ran;
  const std::uint64_t frames = output->Length() / kValueBytes / 2;
  if (frames == 0) return kFailures.Note(kErrNoFrames, path);
  if (const Result copied = CopyFloatFrames(*output, 0, frames, kRenderRate, slot); copied != kOk) {
    return copied;
  }
  output.reset();
  if (dsp::HalfWaveLimiter(slot, stop) != kOk) {
    slot.Clear();
    return kFailures.Note(kErrLimiter, path);
  }
  return kOk;
}

}  // namespace

std::vector<std::u16string> FluidsynthArguments(const std::array<std::u16string, 3>& fonts,
                                                const std::array<std::u16string_view, 3>& names,
                                                std::u16string_view midi) {
  std::vector<std::u16string> words(kFixedArguments.begin(), kFixedArguments.end());
  if (!platform::EqualNoCase(names[2], names[1]) && !platform::EqualNoCase(names[2], names[0])) {
    words.push_back(fonts[2]);
  }
  if (!platform::EqualNoCase(names[1], names[0])) words.push_back(fonts[1]);
  words.push_back(fonts[0]);
  words.emplace_back(midi);
  return words;
}

std::uint64_t FluidsynthCommandLineLength(const std::array<std::u16string, 3>& fonts,
                                          std::u16string_view midi) {
  std::uint64_t length = kLineStart + midi.size() + kLineEnd;
  for (const std::u16string& font : fonts) length += font.size() + kLineSeparator;
  return length;
}

Result ReadWithFluidsynth(std::u16string_view path, std::u16string_view soundFont1,
                          std::u16string_view soundFont2, std::u16string_view soundFont3,
                          dsp::BufferSlot& slot, const platform::StopWord& stop) {
  slot.Clear();
  try {
    return Render(path, {soundFont1, soundFont2, soundFont3}, slot, stop);
  } catch (const std::bad_alloc&) {
    slot.Clear();
    return kFailures.Note(kErrNoMemory, path);
  }
}

}  // namespace lumaro::decode
