#include "tests/support/audio_files.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/byte_order.h"
#include "platform/path.h"
#include "platform/text.h"

namespace lumaro::testing {
namespace {

constexpr int kTempDirAttempts = 100;

// Byte by byte: GCC 12 mistakes vector::insert of a few bytes for an overflow at -O3.
void PutId(Bytes& out, std::string_view id) {
  for (const char c : id) out.push_back(static_cast<unsigned char>(c));
}

template <class T>
void PutLe(Bytes& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<unsigned char>(static_cast<std::uint64_t>(value) >> (8 * i)));
  }
}

template <class T>
void PutBe(Bytes& out, T value) {
  for (std::size_t i = sizeof(T); i > 0; --i) {
    out.push_back(static_cast<unsigned char>(static_cast<std::uint64_t>(value) >> (8 * (i - 1))));
  }
}

void Append(Bytes& out, const Bytes& more) {
  for (const unsigned char b : more) out.push_back(b);
}

unsigned char Reverse(unsigned char b) {
  unsigned char r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<unsigned char>(r | (((b >> i) & 1U) << (7 - i)));
  return r;
}

void PutRiffChunk(Bytes& out, const Chunk& c) {
  PutId(out, c.id);
  PutLe<std::uint32_t>(out, static_cast<std::uint32_t>(c.size.value_or(c.body.size())));
  Append(out, c.body);
  if (c.body.size() % 2 != 0) out.push_back(0);
}

void PutIffChunk(Bytes& out, const Chunk& c) {
  PutId(out, c.id);
  PutBe<std::uint64_t>(out, c.size.value_or(c.body.size()));
  Append(out, c.body);
  if (c.body.size() % 2 != 0) out.push_back(0);
}

}  // namespace

TempDir::TempDir() {
  // A new directory of a name no other test run takes (create_directory refuses one that exists).
  static std::atomic<unsigned> made{0};
  std::random_device random;
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  for (int attempt = 0; attempt < kTempDirAttempts && path_.empty() && !error; ++attempt) {
    const std::filesystem::path dir =
        base / ("lumaro-test-" + std::to_string(random()) + "-" + std::to_string(made++));
    if (std::filesystem::create_directory(dir, error)) path_ = dir.u16string();
  }
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(path_), ignored);
}

std::u16string TempDir::File(std::u16string_view name) const {
  return path_ + platform::kPathSeparator + std::u16string(name);
}

std::u16string TempDir::Write(std::u16string_view name, const Bytes& bytes) const {
  EXPECT_TRUE(WriteFileBytes(File(name), bytes)) << Utf8(name);
  return File(name);
}

std::string Utf8(std::u16string_view text) { return platform::Utf16ToUtf8(text); }

std::u16string NativeSeparators(std::u16string_view path) {
  std::u16string out(path);
  std::replace(out.begin(), out.end(), u'/', platform::kPathSeparator);
  return out;
}

::testing::AssertionResult BytesAt(const Bytes& bytes, std::size_t at, const Bytes& expected) {
  if (bytes.size() < at + expected.size()) {
    return ::testing::AssertionFailure()
           << "only " << bytes.size() << " bytes, not " << at + expected.size();
  }
  for (std::size_t k = 0; k < expected.size(); ++k) {
    if (bytes[at + k] != expected[k]) {
      return ::testing::AssertionFailure()
             << "byte " << at + k << " is " << int{bytes[at + k]} << ", not " << int{expected[k]};
    }
  }
  return ::testing::AssertionSuccess();
}

bool WriteFileBytes(std::u16string_view path, const Bytes& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::optional<Bytes> ReadFileBytes(std::u16string_view path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RiffSizeMismatch(const Bytes& file) {
  constexpr std::size_t kRiffHeaderBytes = 12;
  constexpr std::size_t kChunkHeaderBytes = 8;
  const auto le32 = [&](std::size_t at) { return platform::LoadLe<std::uint32_t>(&file[at]); };
  if (file.size() < kRiffHeaderBytes) return "shorter than a RIFF header";
  if (le32(4) != file.size() - 8) return "RIFF size";
  for (std::size_t at = kRiffHeaderBytes; at + kChunkHeaderBytes <= file.size();) {
    const std::uint32_t size = le32(at + 4);
    if (std::string(file.begin() + at, file.begin() + at + 4) == "data") {
      return size == file.size() - at - kChunkHeaderBytes ? "" : "data size";
    }
    at += kChunkHeaderBytes + size + (size & 1);
  }
  return "no data chunk";
}

Bytes MakeWav(const WavSpec& s, const Bytes& data) {
  const bool extensible = s.formatTag == 0xFFFE;
  const std::uint32_t formatSize = s.formatSize != 0 ? s.formatSize : (extensible ? 40 : 16);
  Bytes fmt;
  PutLe<std::uint16_t>(fmt, s.formatTag);
  PutLe<std::uint16_t>(fmt, s.channels);
  PutLe<std::uint32_t>(fmt, s.rate);
  const std::uint32_t block = s.channels * (s.bits / 8U);
  PutLe<std::uint32_t>(fmt, s.rate * block);
  PutLe<std::uint16_t>(fmt, static_cast<std::uint16_t>(block));
  PutLe<std::uint16_t>(fmt, s.bits);
  PutLe<std::uint16_t>(fmt, 22);
  PutLe<std::uint16_t>(fmt, s.validBits != 0 ? s.validBits : s.bits);
  PutLe<std::uint32_t>(fmt, s.channels == 1 ? 0x4 : 0x3);
  for (const unsigned char b : s.subFormat) fmt.push_back(b);
  fmt.resize(formatSize, 0);

  Bytes body;
  PutId(body, "WAVE");
  for (const Chunk& c : s.before) PutRiffChunk(body, c);
  const Chunk formatChunk{"fmt ", fmt, std::nullopt};
  const Chunk dataChunk{"data", data, s.dataSize};
  PutRiffChunk(body, s.dataFirst ? dataChunk : formatChunk);
  for (const Chunk& c : s.between) PutRiffChunk(body, c);
  PutRiffChunk(body, s.dataFirst ? formatChunk : dataChunk);

  Bytes file;
  PutId(file, "RIFF");
  PutLe<std::uint32_t>(file, static_cast<std::uint32_t>(body.size()));
  Append(file, body);
  return file;
}

Bytes MakeDsf(const DsfSpec& s, const std::vector<Bytes>& channels) {
  const std::uint64_t length = channels.empty() ? 0 : channels[0].size();
  const std::uint64_t blocks = (length + s.blockSize - 1) / s.blockSize;
  Bytes data;
  for (std::uint64_t b = 0; b < blocks; ++b) {
    for (const Bytes& channel : channels) {
      for (std::uint64_t k = 0; k < s.blockSize; ++k) {
        const std::uint64_t i = b * s.blockSize + k;
        const unsigned char v = i < length ? channel[i] : s.padding;
        data.push_back(s.bitsPerSample == 8 && i < length ? Reverse(v) : v);
      }
    }
  }
  Bytes extra;
  for (const Chunk& c : s.beforeData) {
    PutId(extra, c.id);
    PutLe<std::uint64_t>(extra, c.size.value_or(c.body.size() + 12));
    Append(extra, c.body);
  }
  Bytes file;
  PutId(file, "DSD ");
  PutLe<std::uint64_t>(file, 28);
  PutLe<std::uint64_t>(file, 92 + extra.size() + data.size());
  PutLe<std::uint64_t>(file, 0);
  PutId(file, "fmt ");
  PutLe<std::uint64_t>(file, 52);
  PutLe<std::uint32_t>(file, s.formatVersion);
  PutLe<std::uint32_t>(file, s.formatId);
  PutLe<std::uint32_t>(file, s.channels == 1 ? 1 : 2);
  PutLe<std::uint32_t>(file, s.channels);
  PutLe<std::uint32_t>(file, s.rate);
  PutLe<std::uint32_t>(file, s.bitsPerSample);
  PutLe<std::uint64_t>(file, s.sampleCount.value_or(length * 8));
  PutLe<std::uint32_t>(file, s.blockSize);
  PutLe<std::uint32_t>(file, 0);
  Append(file, extra);
  PutId(file, "data");
  PutLe<std::uint64_t>(file, data.size() + 12);
  Append(file, data);
  return file;
}

Bytes MakeDsdiff(const DsdiffSpec& s, const std::vector<Bytes>& channels) {
  const std::uint64_t length = channels.empty() ? 0 : channels[0].size();
  Bytes prop;
  PutId(prop, "SND ");
  Bytes rate;
  PutBe<std::uint32_t>(rate, s.rate);
  PutIffChunk(prop, Chunk{"FS  ", rate, std::nullopt});
  Bytes chnl;
  PutBe<std::uint16_t>(chnl, s.channels);
  for (std::uint16_t i = 0; i < s.channels; ++i) PutId(chnl, i == 0 ? "SLFT" : "SRGT");
  PutIffChunk(prop, Chunk{"CHNL", chnl, std::nullopt});
  if (s.withCompression) {
    Bytes cmpr;
    PutId(cmpr, s.compression);
    const std::string_view name = s.compression == "DSD " ? "not compressed" : "DST Encoded";
    cmpr.push_back(static_cast<unsigned char>(name.size()));
    PutId(cmpr, name);
    if (cmpr.size() % 2 != 0) cmpr.push_back(0);
    PutIffChunk(prop, Chunk{"CMPR", cmpr, std::nullopt});
  }
  for (const Chunk& c : s.properties) PutIffChunk(prop, c);

  Bytes data;
  for (std::uint64_t i = 0; i < length; ++i) {
    for (const Bytes& channel : channels) data.push_back(Reverse(channel[i]));
  }
  Bytes body;
  PutId(body, "DSD ");
  Bytes version = {s.version, 5, 0, 0};
  PutIffChunk(body, Chunk{"FVER", version, std::nullopt});
  PutIffChunk(body, Chunk{"PROP", prop, std::nullopt});
  for (const Chunk& c : s.beforeData) PutIffChunk(body, c);
  PutIffChunk(body, Chunk{"DSD ", data, s.dataSize});

  Bytes file;
  PutId(file, "FRM8");
  PutBe<std::uint64_t>(file, body.size());
  Append(file, body);
  return file;
}

Bytes PackLe(const std::vector<std::int64_t>& values, unsigned bits) {
  Bytes out;
  for (const std::int64_t v : values) {
    for (unsigned i = 0; i < bits / 8; ++i) {
      out.push_back(static_cast<unsigned char>(static_cast<std::uint64_t>(v) >> (8 * i)));
    }
  }
  return out;
}

}  // namespace lumaro::testing
