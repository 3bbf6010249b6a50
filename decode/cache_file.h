#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dsp/buffer_slot.h"
#include "platform/result.h"
#include "platform/shared_word.h"

namespace lumaro::decode {

enum class CacheFormat { kWav, kWave64, kDsdiff };

// ".dff" for 1-bit data; for float data ".wav" while frames × 16 + 58 stays below 4,294,967,295
// (so the WAV's 32-bit sizes hold), else ".w64".
CacheFormat CacheFormatFor(bool oneBit, std::uint64_t frames) noexcept;

std::u16string_view CacheExtension(CacheFormat format) noexcept;

// The cache file's path: `directory`, the track's file name (without its own directory), its
// extension replaced by the format's. nullopt when the directory is empty or 259 units or longer,
// or the result would be longer than a path may be.
std::optional<std::u16string> CacheFilePath(std::u16string_view directory,
                                            std::u16string_view trackPath, CacheFormat format);

// Writes the record in `record` (an AudioBuffer, or a DsdBuffer when `oneBit`) as the cache file
// of `trackPath` into `directory` (the player's own directory when empty). A file or directory of
// that name already there is left alone and counts as success. Failure answer: nonzero (unusable
// directory, path too long, wrong record, the writer failed — its partial file is deleted).
// The record is not changed. Playback thread.
[[nodiscard]] Result WriteCacheFile(std::u16string_view trackPath, const dsp::BufferSlot& record,
                                    bool oneBit, const platform::StopWord& stop,
                                    std::u16string_view directory = {});

}  // namespace lumaro::decode
