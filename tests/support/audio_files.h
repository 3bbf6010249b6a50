#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Synthesized audio files for tests: WAV (any tag, extensible, chunks in any order), DSF and
// DSDIFF (optional extra chunks), each as bytes, and a temporary directory to write them into.
namespace lumaro::testing {

using Bytes = std::vector<unsigned char>;

// A directory of its own under the system's temporary directory, removed with everything in it
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::u16string& Path() const { return path_; }
  // The full path of `name` inside the directory.
  std::u16string File(std::u16string_view name) const;
  // Writes `bytes` as `name` inside the directory (the test fails if it cannot); answers its path.
  std::u16string Write(std::u16string_view name, const std::vector<unsigned char>& bytes) const;

 private:
  std::u16string path_;
};

// Text (a path, a status) as UTF-8, for messages and the OS.
std::string Utf8(std::u16string_view text);

// `path` with this system's separator where it has '/' (the path helpers write their own).
std::u16string NativeSeparators(std::u16string_view path);

// Whether bytes[at, at + expected.size()) are `expected`; on failure names the first difference.
::testing::AssertionResult BytesAt(const Bytes& bytes, std::size_t at, const Bytes& expected);

// Writes (replacing) a file; false on failure.
bool WriteFileBytes(std::u16string_view path, const Bytes& bytes);
// The whole file, or nullopt.
std::optional<Bytes> ReadFileBytes(std::u16string_view path);

// A chunk with any identifier and body; `size` overrides the declared size.
struct Chunk {
  std::string id;
  Bytes body;
  std::optional<std::uint64_t> size;
};

inline constexpr std::array<unsigned char, 16> kWavSubFormatPcm = {
    0x01, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71};
inline constexpr std::array<unsigned char, 16> kWavSubFormatFloat = {
    0x03, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71};

struct WavSpec {
  std::uint16_t formatTag = 1;  // 1 PCM, 3 float, 0xFFFE extensible, anything else
  std::uint16_t channels = 2;
  std::uint32_t rate = 44100;
  std::uint16_t bits = 16;      // container width
  std::uint16_t validBits = 0;  // extensible only; 0 = bits
  std::array<unsigned char, 16> subFormat = kWavSubFormatPcm;
  std::uint32_t formatSize = 0;           // 0: 16 for plain tags, 40 for extensible
  std::vector<Chunk> before;              // chunks ahead of the first of "fmt " / "data"
  std::vector<Chunk> between;             // chunks between them
  bool dataFirst = false;                 // "data" ahead of "fmt "
  std::optional<std::uint32_t> dataSize;  // declared data size (default: the bytes given)
};

// A RIFF/WAVE file holding `data` as its sample bytes. Odd-sized chunks get their pad byte.
Bytes MakeWav(const WavSpec& spec, const Bytes& data);

// Empty when a RIFF file's sizes agree with its length (its "data" chunk last, as an output
// file's is), else what disagrees.
std::string RiffSizeMismatch(const Bytes& file);

struct DsfSpec {
  std::uint32_t channels = 2;
  std::uint32_t rate = 2822400;
  std::uint32_t bitsPerSample = 1;           // 1: earliest sample in bit 0; 8: in bit 7
  std::optional<std::uint64_t> sampleCount;  // default: 8 × bytes per channel
  std::uint32_t blockSize = 4096;
  std::uint32_t formatVersion = 1;
  std::uint32_t formatId = 0;
  unsigned char padding = 0;      // fills each channel's last block
  std::vector<Chunk> beforeData;  // e.g. a metadata chunk between "fmt " and "data"
};

// A DSF file of the given channels, each a byte stream with the earliest sample in bit 0 (the
// writer reverses the bits for bitsPerSample 8). All channels must be of one length.
Bytes MakeDsf(const DsfSpec& spec, const std::vector<Bytes>& channels);

struct DsdiffSpec {
  std::uint16_t channels = 2;
  std::uint32_t rate = 2822400;
  std::string compression = "DSD ";       // "DST " for compressed data
  bool withCompression = true;            // include the "CMPR" property
  unsigned char version = 1;              // first byte of FVER
  std::vector<Chunk> properties;          // extra property chunks after "FS  "
  std::vector<Chunk> beforeData;          // chunks between "PROP" and the sound data, e.g. "COMT"
  std::optional<std::uint64_t> dataSize;  // declared sound data size
};

// A DSDIFF file whose sound data interleaves the channels byte by byte; `channels` hold bytes
// with the earliest sample in bit 0 (the writer reverses the bits, as DSDIFF stores them).
// Odd-sized chunks get their pad byte.
Bytes MakeDsdiff(const DsdiffSpec& spec, const std::vector<Bytes>& channels);

// Little-endian sample bytes of `bits` (8 to 64, whole bytes) from signed values (for 8 bits the
// value is stored as is: pass the unsigned byte).
Bytes PackLe(const std::vector<std::int64_t>& values, unsigned bits);

}  // namespace lumaro::testing
