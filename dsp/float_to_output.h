#pragma once

#include <cstdint>
#include <functional>

#include "dsp/buffer_slot.h"
#include "dsp/pcm_buffer.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::dsp {

// The widths FloatToOutput is given.
struct OutputFormat {
  unsigned validBits = 0;
  unsigned containerBits = 0;
  bool asFloat = false;
};

// True for the widths FloatToOutput takes: valid and container bits 16, 24 or 32, valid ≤
// container.
[[nodiscard]] bool IsOutputFormat(unsigned validBits, unsigned containerBits) noexcept;

// FloatToOutput's second pass once the peak of the samples to convert is known: the output
// record it makes and the bytes each frame becomes. The widths must pass IsOutputFormat.
class OutputConversion {
 public:
  OutputConversion(unsigned validBits, unsigned containerBits, bool asFloat, double peak) noexcept;

  // A PcmBuffer for `frames` output frames whose real frames are left for Convert. Failure
  // answer: nullptr.
  [[nodiscard]] PcmBufferPtr NewRecord(std::uint32_t sampleRate,
                                       std::uint64_t frames) const noexcept;

  // The output record's sample format (kPcmFloat or kPcmInteger) and bytes per frame.
  [[nodiscard]] std::uint16_t SampleFormat() const noexcept;
  [[nodiscard]] unsigned FrameBytes() const noexcept;

  // Writes `count` stereo frames from `x` as output frames from `y`, polling `stop` every
  // kStopPollFrames frames (it returns early when set). Any thread; disjoint `y` ranges may be
  // written at once.
  void Convert(const double* x, std::uint64_t count, unsigned char* y,
               const platform::StopWord& stop) const noexcept;

 private:
  unsigned container_;
  bool float_;
  double gain_;
  double limit_;
  double k_;
  unsigned shift_;
};

// A stage's frames made a block at a time, for BlocksToOutput: `produce(worker, block, y, count)`
// writes the `count` frames of block `block` (`blockFrames` each, the last cut at `frames`) into
// `y`, on worker `worker`. Blocks may be made in any order, on any worker, and more than once,
// always with the same samples. A source that needs memory of its own per worker gets the
// number of workers (indices 0 … workers − 1) from `prepare` first, which answers nonzero when
// it cannot have it. A source whose frames already exist whole gives them as `samples` instead
// (the interleaved frames, read in place and never written, so only without clip guards).
struct BlockSource {
  std::uint64_t frames = 0;
  std::uint64_t blockFrames = 0;
  std::function<void(unsigned worker, std::uint64_t block, double* y, std::uint64_t count)> produce;
  const double* samples = nullptr;
  std::function<Result(unsigned workers)> prepare;
};

// The source's frames, clip-guarded `clipGuards` times in a row (ClipGuard's rule: above a peak
// of 1.0, every sample times 1 / peak) and converted as FloatToOutput converts them, written
// straight into a new output record at `rate`: the bytes of those stages run one after
// the other on the whole track, without the whole track in 64-bit float (one block per worker
// instead). A first pass converts each block as for a peak within full scale while measuring the
// peak; only a peak beyond it makes a second pass, with the gains that follow from the peak
// exactly (rounding to nearest keeps the order of magnitudes, so the peak of scaled samples is
// the scaled peak). `beforeConversion` is called once, when the conversion's gain is known.
// On success the record goes into `slot`. Fails for widths IsOutputFormat refuses, a refused
// allocation, a worker that cannot start or a stop request (the slot untouched). Playback thread.
[[nodiscard]] Result BlocksToOutput(const BlockSource& source, std::uint32_t rate,
                                    unsigned clipGuards, const OutputFormat& format,
                                    const std::function<void()>& beforeConversion,
                                    const platform::StopWord& stop, BufferSlot& slot);

// Replaces the AudioBuffer in the slot by the bytes a device takes: a PcmBuffer of two channels
// of `containerBits` at the same rate and frame count (lead-in 48 zero frames). The peak of the
// real frames is measured and, above 1.0, every sample is scaled by 1 / peak. Each
// sample x then becomes round(x × (gain × (2^(valid − 1) − 1))), nearest with ties to even, so
// full scale is ±32767, ±8388607 or ±2147483647; a value narrower than its container sits in
// the high bytes, the low ones zero. With valid = container = 32 and `asFloat` the sample is
// x × gain as a 32-bit float and the record's sample format says float. No dither. A sample
// that is not a number becomes 0. The output record is made in the AudioBuffer's own block (a
// large block's memory past it goes back to the system): the peak is known first, then each
// frame is converted once, over frames already read. Only a record whose lead-in is too short to
// hold the output's header and lead-in is converted into a new record instead, as BlocksToOutput
// does (while the peak is measured, again only for a peak beyond full scale). The bytes are the
// same. Fails unless valid and container bits are 16, 24 or 32 with valid ≤ container; also for no
// frames, a refused allocation, a worker that cannot start or a stop request. The source is
// freed in every case; on failure the slot is empty. Playback thread.
[[nodiscard]] Result FloatToOutput(BufferSlot& slot, unsigned validBits, unsigned containerBits,
                                   bool asFloat, const platform::StopWord& stop);
// The same for a caller that has just measured `peak`, the largest |sample| of the real frames
// (ClipGuardTellingPeak's answer): in the AudioBuffer's own block, the pass that measures it is
// skipped.
[[nodiscard]] Result FloatToOutputWithPeak(BufferSlot& slot, const OutputFormat& format,
                                           double peak, const platform::StopWord& stop);

}  // namespace lumaro::dsp
