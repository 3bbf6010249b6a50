#include "decode/decode_track.h"

#include <array>
#include <span>
#include <string>

#include "decode/dsdiff_reader.h"
#include "decode/dsf_reader.h"
#include "decode/ffmpeg_reader.h"
#include "decode/fluidsynth_reader.h"
#include "decode/fm_music_reader.h"
#include "decode/outside_components.h"
#include "decode/platform_decoder_reader.h"
#include "decode/wav_reader.h"
#include "dsp/pcm_to_float.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"
#include "platform/text.h"
#include "resources/control_ids.h"
#include "resources/status_texts.h"

namespace lumaro::decode {
namespace {

using context::PlayRequest;
namespace res = resources;

enum : Result {
  kErrPathNotFound = FirstCode(FailureSite::kDecodeTrack),
  kErrDirectory,
  kErrStopped,
  kErrNonAnsi,
  kErrFmMusic,
  kErrFluidsynth,
  kErrNoReader,
  kErrEmptyData,
  kErrSpecialFile,
  kErrUnreadable,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kDecodeTrack,
    kErrUnreadable,
    {"path not found", "path is a directory", "decode stopped", "path not in the ANSI code page",
     "FM-music read failed", "Fluidsynth read failed", "no reader took the file",
     "decoded track is empty", "not a regular file (a pipe, socket or device)",
     "file cannot be opened"}};

// Notes one of this file's failures; answers its code.
Result Fail(const context::PlayRequest& r, Result code) noexcept {
  return kFailures.Note(code, *r.TrackPath);
}

constexpr std::uint32_t kDsdBits = 1;
constexpr std::uint32_t kFloatBits = 64;

void Show(const PlayRequest& r, std::u16string_view text) {
  if (platform::ui::Dialog* window = r.App->MainWindow.Load()) {
    window->SetText(res::kIdStatusLine, text);
  }
}

bool Stopped(const PlayRequest& r) { return r.App->PlayCommand.Load() != 0; }

void DescribePcm(PlayRequest& r, const dsp::PcmBuffer& pcm) {
  r.IsDsd = 0;
  r.DecodedKind =
      pcm.sampleFormat == dsp::kPcmInteger ? context::kKindInteger : context::kKindFloat;
  r.DecodedBits = pcm.bits;
  r.DecodedRate = pcm.sampleRate;
}

void DescribeDsd(PlayRequest& r) {
  r.IsDsd = 1;
  r.DecodedKind = context::kKindInteger;
  r.DecodedBits = kDsdBits;
  r.DecodedRate = r.Buffer.Get<dsp::DsdBuffer>()->dsdRate;
}

void DescribeFloat(PlayRequest& r, std::uint32_t bits) {
  r.IsDsd = 0;
  r.DecodedKind = context::kKindFloat;
  r.DecodedBits = bits;
  r.DecodedRate = r.Buffer.Get<dsp::AudioBuffer>()->sampleRate;
}

// Step 11: a reader succeeded; zero frames (or bytes) is still a failure.
Result CheckNotEmpty(PlayRequest& r) {
  if (Stopped(r)) return kOk;
  const dsp::AudioBuffer* audio = r.Buffer.Get<dsp::AudioBuffer>();
  const dsp::DsdBuffer* dsd = r.Buffer.Get<dsp::DsdBuffer>();
  const std::uint64_t length = audio != nullptr ? audio->frameCount
                               : dsd != nullptr ? dsd->length
                                                : 0;
  if (length != 0) return kOk;
  r.Buffer.Clear();
  Show(r, res::kErrEmptyData);
  return Fail(r, kErrEmptyData);
}

// Steps 3 and 4: an FM-music file goes to its library and to no other reader.
Result DecodeFmMusic(PlayRequest& r, std::u16string_view status, std::uint32_t pps,
                     std::uint32_t ssgRhy) {
  const std::u16string& path = *r.TrackPath;
  Show(r, status);
  if (!platform::AnsiPathCheck(path)) {
    Show(r, res::kErrNonAnsiFilename);
    return Fail(r, kErrNonAnsi);
  }
  if (ReadFmMusic(path, r.Buffer, r.App->PlayCommand, pps, ssgRhy) != kOk) {
    r.Buffer.Clear();
    if (!Stopped(r)) Show(r, res::kErrReadFailed);
    return Fail(r, kErrFmMusic);
  }
  DescribePcm(r, *r.Buffer.Get<dsp::PcmBuffer>());
  Show(r, res::kStatusConvertingToFloat);
  if (dsp::PcmToFloat(r.Buffer, r.App->PlayCommand) != kOk) {
    if (!Stopped(r)) Show(r, res::kErrReadFailed);
    return Fail(r, kErrFmMusic);
  }
  return kOk;
}

Result DecodeWinfmp(PlayRequest& r) { return DecodeFmMusic(r, res::kStatusReadingWinfmp, 0, 0); }

Result DecodePmdwin(PlayRequest& r) {
  return DecodeFmMusic(r, res::kStatusReadingPmdwin, r.App->Pps.Load(), r.App->SsgRhy.Load());
}

// The sound-font name of a slot: an index into SoundFontList, none when out of range.
std::u16string_view SoundFontName(const context::AppContext& a, std::int32_t index) {
  if (!a.SoundFontList) return {};
  const std::u16string* name = a.SoundFontList->Entry(index);
  return name != nullptr ? std::u16string_view(*name) : std::u16string_view();
}

// Step 5: a MIDI file goes to Fluidsynth and to no other reader.
Result DecodeMidi(PlayRequest& r) {
  const context::AppContext& a = *r.App;
  Show(r, res::kStatusReadingFluidsynth);
  if (ReadWithFluidsynth(*r.TrackPath, SoundFontName(a, a.SoundFont1.Load()),
                         SoundFontName(a, a.SoundFont2.Load()),
                         SoundFontName(a, a.SoundFont3.Load()), r.Buffer,
                         r.App->PlayCommand) != kOk) {
    r.Buffer.Clear();
    if (!Stopped(r)) Show(r, res::kErrReadFailed);
    return Fail(r, kErrFluidsynth);
  }
  DescribeFloat(r, kFloatBits);
  return CheckNotEmpty(r);
}

using A = context::AppContext;

// A rule that claims a file by its extension when its setting is on (steps 3 to 5): the file
// goes to that decoder and to no other, whatever the outcome.
struct ClaimRule {
  platform::Word A::*enabledBy;
  std::span<const std::u16string_view> extensions;
  Result (*decode)(PlayRequest&);
};
constexpr ClaimRule kClaimRules[] = {
    {&A::UseWinfmp, kWinfmpExtensions, DecodeWinfmp},
    {&A::UsePmdwin, kPmdwinExtensions, DecodePmdwin},
    {&A::UseFluidsynth, kMidiExtensions, DecodeMidi},
};

// The attempts of the reader chain. Each reads into the empty slot and, on success, leaves an
// AudioBuffer or a DsdBuffer there with the source description set.
Result TryWav(PlayRequest& r) {
  if (const Result read = ReadWav(*r.TrackPath, r.Buffer, r.App->PlayCommand); read != kOk) {
    return read;
  }
  DescribePcm(r, *r.Buffer.Get<dsp::PcmBuffer>());
  Show(r, res::kStatusConvertingToFloat);
  return dsp::PcmToFloat(r.Buffer, r.App->PlayCommand);
}

// The DSF or DSDIFF reader.
template <auto Read>
Result TryDsd(PlayRequest& r) {
  const Result read = Read(*r.TrackPath, r.Buffer, r.App->PlayCommand);
  if (read == kOk) DescribeDsd(r);
  return read;
}

Result TryFfmpeg(PlayRequest& r) {
  const Result read = ReadWithFfmpeg(*r.TrackPath, r.Buffer, r.App->PlayCommand);
  if (read == kOk) DescribeFloat(r, kFloatBits);
  return read;
}

Result TryPlatformDecoder(PlayRequest& r) {
  std::uint32_t bits = 0;
  const Result read = ReadWithPlatformDecoder(*r.TrackPath, r.Buffer, &bits, r.App->PlayCommand);
  if (read == kOk) DescribeFloat(r, bits);
  return read;
}

// A reader's progress text that is the same on every platform.
template <const std::u16string_view& Text>
std::u16string_view Fixed() noexcept {
  return Text;
}

// When no reader took the file because none could open it (no permission, a lock), notes the
// system's reason with the path; a file that opens adds nothing.
void NoteWhyUnopened(const std::u16string& path) {
  if (platform::File::Open(path, platform::OpenMode::kReadShared) == nullptr) {
    kFailures.NoteSystemFailure(kErrUnreadable, path);
  }
}

// The reader chain of steps 6 to 10, in its order: every file is offered to each reader whose
// setting is on (nullptr: always) until one succeeds. The platform decoder's text is the one of
// the decoder the build carries.
struct ChainReader {
  std::u16string_view (*status)() noexcept;
  platform::Word A::*enabledBy;
  Result (*read)(PlayRequest&);
};
constexpr ChainReader kReaderChain[] = {
    {Fixed<res::kStatusReadingBuiltIn>, nullptr, TryWav},
    {Fixed<res::kStatusReadingBuiltIn>, nullptr, TryDsd<ReadDsf>},
    {Fixed<res::kStatusReadingBuiltIn>, nullptr, TryDsd<ReadDsdiff>},
    {Fixed<res::kStatusReadingFfmpeg>, &A::UseFfmpeg, TryFfmpeg},
    {PlatformDecoderStatus, nullptr, TryPlatformDecoder},
};

// Steps 6 to 11: the chain, then the empty-data check of the reader that succeeded.
Result DecodeWithChain(PlayRequest& r) {
  for (const ChainReader& reader : kReaderChain) {
    if (Stopped(r)) return Fail(r, kErrStopped);
    if (reader.enabledBy != nullptr && (r.App->*reader.enabledBy).Load() == 0) continue;
    Show(r, reader.status());
    if (reader.read(r) == kOk) return CheckNotEmpty(r);
    r.Buffer.Clear();
  }
  if (Stopped(r)) return Fail(r, kErrStopped);
  Show(r, res::kErrReadFailed);
  NoteWhyUnopened(*r.TrackPath);
  return Fail(r, kErrNoReader);
}

}  // namespace

Result DecodeTrack(PlayRequest& r) {
  r.Buffer.Clear();
  const context::AppContext& a = *r.App;
  const std::u16string& path = *r.TrackPath;

  // Step 1: the path must name a file.
  platform::FileAttributes attributes;
  if (!platform::GetFileAttributes(path, &attributes)) {
    Show(r, res::kErrPathNotFound);
    return Fail(r, kErrPathNotFound);
  }
  if (attributes.directory) {
    Show(r, res::kErrDirectoryPath);
    return Fail(r, kErrDirectory);
  }
  // No reader is handed a pipe, socket or device: it could wait for a writer for ever.
  if (attributes.special) {
    Show(r, res::kErrReadFailed);
    return Fail(r, kErrSpecialFile);
  }

  // Steps 2 to 5: the rules that claim a file by its extension.
  for (const ClaimRule& rule : kClaimRules) {
    if (Stopped(r)) return Fail(r, kErrStopped);
    if ((a.*rule.enabledBy).Load() != 0 && HasExtension(path, rule.extensions)) {
      return rule.decode(r);
    }
  }

  // Steps 6 to 11.
  if (Stopped(r)) return Fail(r, kErrStopped);
  return DecodeWithChain(r);
}

}  // namespace lumaro::decode
