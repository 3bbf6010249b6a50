// The volume-assist stages of lumaro-stage: compress, loudness, limiter and peak, each taking
// its integers as the dialogs store them.
#include <array>
#include <cstdint>
#include <limits>

#include "dsp/compress.h"
#include "dsp/half_wave_limiter.h"
#include "dsp/loudness_normalize.h"
#include "dsp/peak_normalize.h"
#include "tools/stages.h"

namespace lumaro::tools {
namespace {

// Parses exactly N unsigned 32-bit words (a dialog's values); false for any other count or a
// word that is not a decimal number within 32 bits.
template <std::size_t N>
bool ParseWords(std::span<const std::string_view> args, std::array<std::uint32_t, N>& words) {
  if (args.size() != N) return false;
  for (std::size_t i = 0; i < N; ++i) {
    std::uint64_t value = 0;
    if (!ParseUnsigned(args[i], &value) || value > std::numeric_limits<std::uint32_t>::max()) {
      return false;
    }
    words[i] = static_cast<std::uint32_t>(value);
  }
  return true;
}

StageStatus StatusOf(Result result) {
  return result == kOk ? StageStatus::kOk : StageStatus::kFailed;
}

// compress THRESHOLD DOWNWARD UPWARD MAXAMP CELL BALANCE TYPE
StageStatus RunCompress(dsp::BufferSlot& slot, std::span<const std::string_view> args,
                        const platform::StopWord& stop) {
  std::array<std::uint32_t, 7> w{};
  if (!ParseWords(args, w)) return StageStatus::kBadArguments;
  const dsp::CompressParameters parameters{w[0], w[1], w[2], w[3], w[4], w[5], w[6]};
  return StatusOf(dsp::Compress(slot, parameters, stop));
}

// loudness LEVEL TYPE
StageStatus RunLoudness(dsp::BufferSlot& slot, std::span<const std::string_view> args,
                        const platform::StopWord& stop) {
  std::array<std::uint32_t, 2> w{};
  if (!ParseWords(args, w)) return StageStatus::kBadArguments;
  return StatusOf(dsp::LoudnessNormalize(slot, w[0], w[1], stop));
}

// limiter
StageStatus RunLimiter(dsp::BufferSlot& slot, std::span<const std::string_view> args,
                       const platform::StopWord& stop) {
  if (!args.empty()) return StageStatus::kBadArguments;
  return StatusOf(dsp::HalfWaveLimiter(slot, stop));
}

// peak TARGET
StageStatus RunPeak(dsp::BufferSlot& slot, std::span<const std::string_view> args,
                    const platform::StopWord& stop) {
  std::array<std::uint32_t, 1> w{};
  if (!ParseWords(args, w)) return StageStatus::kBadArguments;
  return StatusOf(dsp::PeakNormalize(slot, w[0], stop));
}

constexpr std::array<StageSpec, 4> kAssistStages{{
    {"compress", "THRESHOLD DOWNWARD UPWARD MAXAMP CELL BALANCE TYPE", RunCompress},
    {"loudness", "LEVEL TYPE", RunLoudness},
    {"limiter", "", RunLimiter},
    {"peak", "TARGET", RunPeak},
}};

}  // namespace

std::span<const StageSpec> AssistStages() { return kAssistStages; }

}  // namespace lumaro::tools
