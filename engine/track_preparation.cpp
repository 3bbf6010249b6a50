#include "engine/track_preparation.h"

#include "decode/cache_file.h"
#include "dsp/clip_guard.h"
#include "dsp/compress.h"
#include "dsp/dsd_to_float.h"
#include "dsp/float_to_output.h"
#include "dsp/guarded_alloc.h"
#include "dsp/half_wave_limiter.h"
#include "dsp/loudness_normalize.h"
#include "dsp/pack_dop.h"
#include "dsp/peak_normalize.h"
#include "dsp/resample.h"
#include "dsp/reverse_dsd_bits.h"
#include "dsp/swap_to_big_endian.h"
#include "dsp/to_one_bit.h"
#include "engine/step_machine.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/text.h"
#include "resources/status_texts.h"

namespace lumaro::engine {
namespace {

namespace res = resources;
using context::PlayRequest;

enum : Result {
  kErrNotEnoughData = FirstCode(FailureSite::kTrackPreparation),
  kErrNoBuffer,
  kErrPriority,
};
constexpr platform::FailureNames kFailures{
    FailureSite::kTrackPreparation,
    kErrPriority,
    {"not enough data for the device", "no output record", "audio priority refused"}};

bool Stopped(const PlayRequest& r) { return r.App->PlayCommand.Load() != context::kCommandNone; }

// Shows "ERROR: out of memory" for a failed stage unless a stop was requested.
Result StageFailed(const PlayRequest& r, Result result) {
  if (!Stopped(r)) ShowStatus(r, res::kErrOutOfMemory);
  return result;
}

// Shows `text`, runs `stage`, and reports its failure as a stage failure.
template <class Stage>
Result RunStage(PlayRequest& r, std::u16string_view text, Stage&& stage) {
  if (!text.empty()) ShowStatus(r, text);
  const Result result = stage();
  return result == kOk ? kOk : StageFailed(r, result);
}

std::uint32_t AudioRate(const PlayRequest& r) {
  const dsp::AudioBuffer* audio = r.Buffer.Get<dsp::AudioBuffer>();
  return audio != nullptr ? audio->sampleRate : 0;
}

// The PCM rate a 1-bit track becomes (DsdToFloat's), or 0 when the buffer holds none.
std::uint32_t DsdPcmRate(const PlayRequest& r) {
  const dsp::DsdBuffer* dsd = r.Buffer.Get<dsp::DsdBuffer>();
  std::uint32_t rate = 0;
  unsigned decimation = 1;
  if (r.IsDsd == 0 || dsd == nullptr || !dsp::DsdDecimation(dsd->dsdRate, &rate, &decimation)) {
    return 0;
  }
  return rate;
}

// "Writing cache file ..." when the Cache option is on.
Result WriteCache(PlayRequest& r, bool oneBit) {
  if (r.App->Cache.Load() != 1) return kOk;
  ShowStatus(r, res::kStatusWritingCache);
  const Result written =
      decode::WriteCacheFile(r.TrackPath != nullptr ? *r.TrackPath : std::u16string(), r.Buffer,
                             oneBit, r.App->PlayCommand);
  if (written != kOk && !Stopped(r)) ShowStatus(r, res::kErrCacheWriteFailed);
  return written;
}

// Integer (or shared float) PCM at `rate`: float, resampled, clip-guarded, converted. Without a
// cache file (which takes the track in float) a 1-bit track at the rate, or the last rate step,
// writes straight into the output record, with the same texts in the same order and the same
// bytes.
Result PreparePcm(PlayRequest& r, std::uint32_t rate, unsigned validBits, unsigned containerBits,
                  bool asFloat) {
  const dsp::OutputFormat format{validBits, containerBits, asFloat};
  const auto showConverting = [&] { ShowStatus(r, res::kStatusConvertingToOutput); };
  // Read once, before the first stage: the choice of path depends on it.
  const bool cacheFile = r.App->Cache.Load() == 1;
  if (!cacheFile && DsdPcmRate(r) == rate) {
    const Result converted = RunStage(r, res::kStatusConvertingToFloat, [&] {
      return dsp::DsdToOutput(r.Buffer, true, format, showConverting, r.App->PlayCommand);
    });
    if (converted == kOk) r.IsDsd = 0;
    return converted;
  }
  if (const Result converted = ConvertDsdToFloat(r); converted != kOk) return converted;
  if (AudioRate(r) != rate && !cacheFile) {
    return RunStage(r, res::kStatusResampling, [&] {
      return dsp::ResampleToOutput(r.Buffer, rate, true, format, showConverting,
                                   r.App->PlayCommand);
    });
  }
  if (const Result resampled = ResampleTo(r, rate); resampled != kOk) return resampled;
  // The clip guard's peak spares the conversion its own measuring pass: the cache file only
  // reads the frames.
  double peak = 0.0;
  if (const Result guarded = RunStage(
          r, {}, [&] { return dsp::ClipGuardTellingPeak(r.Buffer, r.App->PlayCommand, &peak); });
      guarded != kOk) {
    return guarded;
  }
  if (const Result cached = WriteCache(r, false); cached != kOk) return cached;
  return RunStage(r, res::kStatusConvertingToOutput, [&] {
    return dsp::FloatToOutputWithPeak(r.Buffer, format, peak, r.App->PlayCommand);
  });
}

// PCM output of the endpoint in its format; float for the shared mix.
Result PreparePcmOutput(PlayRequest& r) {
  const platform::endpoint::WaveFormat& f = r.WaveFormat;
  return PreparePcm(r, f.samplesPerSec, f.validBitsPerSample, f.bitsPerSample,
                    platform::EqualNoCase(r.Rate, res::kRateShare));
}

// 1-bit data at `dsdRate`: a 1-bit track at that rate is kept, anything else is converted to
// float and modulated again. Then the cache file, when asked for.
Result PrepareOneBit(PlayRequest& r, std::uint64_t dsdRate) {
  const dsp::DsdBuffer* dsd = r.Buffer.Get<dsp::DsdBuffer>();
  if (!(r.IsDsd != 0 && dsd != nullptr && dsd->dsdRate == dsdRate)) {
    if (const Result converted = ConvertDsdToFloat(r); converted != kOk) return converted;
    if (const Result guarded =
            RunStage(r, {}, [&] { return dsp::ClipGuard(r.Buffer, r.App->PlayCommand); });
        guarded != kOk) {
      return guarded;
    }
    if (const Result modulated = RunStage(r, res::kStatusConvertingTo1Bit,
                                          [&] {
                                            return dsp::ToOneBit(
                                                r.Buffer, static_cast<std::uint32_t>(dsdRate),
                                                r.App->PlayCommand);
                                          });
        modulated != kOk) {
      return modulated;
    }
  }
  return WriteCache(r, true);
}

// DoP output of the endpoint: 1-bit data at the format's rate × 16, packed into PCM frames.
Result PrepareDopOutput(PlayRequest& r) {
  const platform::endpoint::WaveFormat& f = r.WaveFormat;
  const std::uint64_t dsdRate = static_cast<std::uint64_t>(f.samplesPerSec) * dsp::kDopBitsPerFrame;
  if (const Result made = PrepareOneBit(r, dsdRate); made != kOk) return made;
  return RunStage(r, res::kStatusConvertingToOutput,
                  [&] { return dsp::PackDop(r.Buffer, f.bitsPerSample, r.App->PlayCommand); });
}

Result NotEnoughData(const PlayRequest& r) {
  ShowStatus(r, res::kErrNotEnoughData);
  return kFailures.Note(kErrNotEnoughData);
}

}  // namespace

Result ConvertDsdToFloat(PlayRequest& r) {
  if (r.IsDsd == 0) return kOk;
  const Result converted = RunStage(r, res::kStatusConvertingToFloat,
                                    [&] { return dsp::DsdToFloat(r.Buffer, r.App->PlayCommand); });
  if (converted == kOk) r.IsDsd = 0;
  return converted;
}

Result ResampleTo(PlayRequest& r, std::uint32_t rate) {
  if (AudioRate(r) == rate) return kOk;
  return RunStage(r, res::kStatusResampling,
                  [&] { return dsp::Resample(r.Buffer, rate, r.App->PlayCommand); });
}

Result RaisePriority(PlayRequest& r) {
  ShowStatus(r, res::kStatusSettingPriority);
  const platform::AudioPriorityScope priority;
  if (priority.Refused()) {
    ShowStatus(r, res::kErrPriorityFailed);
    return kFailures.Note(kErrPriority);
  }
  return StepMachine(r, context::Step::kApplyVolumeAssist);
}

Result ApplyVolumeAssist(PlayRequest& r) {
  ShowStatus(r, res::kStatusVolumeAssistStarting);
  context::AppContext& a = *r.App;
  const std::uint32_t assist = a.VolumeAssist.Load();
  if (assist == context::kAssistCompression) {
    if (const Result converted = ConvertDsdToFloat(r); converted != kOk) return converted;
    const dsp::CompressParameters parameters{
        .threshold = a.CompThreshold.Load(),
        .downward = a.CompDownward.Load(),
        .upward = a.CompUpward.Load(),
        .maxAmplification = a.CompMaxAmplification.Load(),
        .cellSize = a.CompCellSize.Load(),
        .timeLagBalance = a.CompTimeLagBalance.Load(),
        .loudnessType = a.CompLoudnessType.Load(),
    };
    if (const Result compressed =
            RunStage(r, res::kStatusCompressing,
                     [&] { return dsp::Compress(r.Buffer, parameters, a.PlayCommand); });
        compressed != kOk) {
      return compressed;
    }
  }
  if (assist == context::kAssistLoudness) {
    if (const Result converted = ConvertDsdToFloat(r); converted != kOk) return converted;
    if (const Result normalized =
            RunStage(r, res::kStatusLoudnessNormalizing,
                     [&] {
                       const Result level = dsp::LoudnessNormalize(
                           r.Buffer, a.LoudnessTarget.Load(), a.LoudnessType.Load(), a.PlayCommand);
                       return level != kOk ? level : dsp::HalfWaveLimiter(r.Buffer, a.PlayCommand);
                     });
        normalized != kOk) {
      return normalized;
    }
  }
  if (assist == context::kAssistPeak ||
      (assist == context::kAssistCompression && a.CompPeakNormalization.Load() == 1)) {
    if (const Result converted = ConvertDsdToFloat(r); converted != kOk) return converted;
    if (const Result normalized = RunStage(
            r, res::kStatusPeakNormalizing,
            [&] { return dsp::PeakNormalize(r.Buffer, a.PeakTarget.Load(), a.PlayCommand); });
        normalized != kOk) {
      return normalized;
    }
  }
  return StepMachine(r, FamilyStepsOf(r).prepareOutput);
}

Result PrepareEndpointOutput(PlayRequest& r) {
  const Result prepared = r.DopOutput != 0 ? PrepareDopOutput(r) : PreparePcmOutput(r);
  dsp::ReleaseFreeBlocks();  // the stages' freed blocks are not needed while the device plays
  if (prepared != kOk) return prepared;
  const dsp::PcmBuffer* output = r.Buffer.Get<dsp::PcmBuffer>();
  if (output == nullptr) return kFailures.Note(kErrNoBuffer);
  if (output->frameCount == 0) return NotEnoughData(r);
  return StepMachine(r, context::Step::kInitializeEndpoint);
}

namespace {

// The driver's record: 1-bit data or PCM in its sample type.
Result MakeDriverRecord(PlayRequest& r) {
  const context::DriverFormat& f = r.DriverOutput;
  if (f.NativeDsd != 0) {
    if (const Result made = PrepareOneBit(r, f.DriverRate); made != kOk) return made;
    if (r.Buffer.Get<dsp::DsdBuffer>() == nullptr) return kFailures.Note(kErrNoBuffer);
    if (r.Buffer.Get<dsp::DsdBuffer>()->length == 0) return NotEnoughData(r);
    if (f.ByteOrderFlag != 0) dsp::ReverseDsdBits(r.Buffer);
  } else {
    if (const Result made = PreparePcm(r, f.DriverRate, f.ValidBits, f.ContainerBits, false);
        made != kOk) {
      return made;
    }
    if (r.Buffer.Get<dsp::PcmBuffer>() == nullptr) return kFailures.Note(kErrNoBuffer);
    if (r.Buffer.Get<dsp::PcmBuffer>()->frameCount == 0) return NotEnoughData(r);
    if (f.ByteOrderFlag != 0) dsp::SwapToBigEndian(r.Buffer, f.ValidBits);
  }
  return kOk;
}

}  // namespace

Result PrepareDriverOutput(PlayRequest& r) {
  const Result made = MakeDriverRecord(r);
  dsp::ReleaseFreeBlocks();  // the stages' freed blocks are not needed while the driver plays
  if (made != kOk) return made;
  return StepMachine(r, context::Step::kCreatePlaybackEvent);
}

}  // namespace lumaro::engine
