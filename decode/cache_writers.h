#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "dsp/audio_buffer.h"
#include "dsp/dsd_buffer.h"
#include "platform/result.h"
#include "platform/shared_word.h"

// The three cache-file writers. Each writes the header and then the record's real data in 1 MiB
// pieces under a partial name beside `target`, looking at `stop` before the header and before
// every piece, and gives the whole file the name `target` (replacing a file of that name) once it
// is on the storage device. On any failure (the file cannot be created, a WAV too large for 32-bit
// sizes, a stop, a short write, a full disk) the partial file is deleted, `target` is left as it
// was and a nonzero value answered; a failed write is noted with the path and the system's reason.
// The record is not changed. Playback thread (or a tool).
namespace lumaro::decode {

inline constexpr std::size_t kWavCacheHeaderBytes = 58;
inline constexpr std::size_t kWave64CacheHeaderBytes = 136;
inline constexpr std::size_t kDsdiffCacheHeaderBytes = 150;
// The largest data size a 58-byte-header WAV can describe in its 32-bit sizes.
inline constexpr std::uint64_t kMaxWavCacheData = 4294967237ULL;

// 64-bit float stereo WAV with a "fact" chunk: "RIFF" size frames × 16 + 50.
std::array<unsigned char, kWavCacheHeaderBytes> WavCacheHeader(std::uint32_t rate,
                                                               std::uint64_t frames);
// Sony Wave64 with GUID chunk identifiers and true 64-bit sizes (each counting its own 24-byte
// header; the riff size is the file size).
std::array<unsigned char, kWave64CacheHeaderBytes> Wave64CacheHeader(std::uint32_t rate,
                                                                     std::uint64_t frames);
// DSDIFF 1.5 with FVER, PROP (FS, CHNL SLFT SRGT, CMPR "not compressed"), ABSS and the sound
// data chunk of `length` × 2 bytes.
std::array<unsigned char, kDsdiffCacheHeaderBytes> DsdiffCacheHeader(std::uint32_t dsdRate,
                                                                     std::uint64_t length);

[[nodiscard]] Result WriteWavCache(std::u16string_view target, const dsp::AudioBuffer& record,
                                   const platform::StopWord& stop);
[[nodiscard]] Result WriteWave64Cache(std::u16string_view target, const dsp::AudioBuffer& record,
                                      const platform::StopWord& stop);
// The byte pairs are written bit-reversed (earliest sample in bit 7), as DSDIFF stores them.
[[nodiscard]] Result WriteDsdiffCache(std::u16string_view target, const dsp::DsdBuffer& record,
                                      const platform::StopWord& stop);

}  // namespace lumaro::decode
