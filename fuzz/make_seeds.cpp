// lumaro-fuzz-seeds DIR: writes the fuzz targets' first corpus into DIR/<target>/, each file
// made by the project's own writers: the cache writers and lumaro-stage's output writer for the
// WAV, stream and DSDIFF files, the test suite's file makers for the layouts the writers never
// produce (data before format, extra chunks, DSF), and a few play lists and command lines.
// Exit status 0, or 1 when a file cannot be written.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "decode/cache_writers.h"
#include "platform/text.h"
#include "tests/support/audio_files.h"
#include "tools/stage_files.h"

namespace {

using namespace lumaro;
namespace files = lumaro::testing;
using files::Bytes;

constexpr std::uint64_t kFrames = 64;
constexpr double kPi = 3.14159265358979323846;

bool failed = false;

std::filesystem::path Dir(const std::filesystem::path& root, const char* target) {
  std::filesystem::create_directories(root / target);
  return root / target;
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) failed = true;
}

void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  WriteBytes(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Command-line words as the option targets split them: each ended by a NUL byte.
std::string Words(std::initializer_list<std::string_view> words) {
  std::string joined;
  for (const std::string_view word : words) {
    joined.append(word);
    joined.push_back('\0');
  }
  return joined;
}

void Check(Result result) {
  if (result != kOk) failed = true;
}

// A short sine as signed values of `bits`.
std::vector<std::int64_t> Sine(unsigned bits) {
  std::vector<std::int64_t> values;
  const double peak = std::ldexp(0.5, static_cast<int>(bits) - 1);
  for (std::uint64_t i = 0; i < kFrames * 2; ++i) {
    values.push_back(std::llround(peak * std::sin(2.0 * kPi * static_cast<double>(i) / 16.0)));
  }
  return values;
}

dsp::AudioBufferPtr SineRecord() {
  dsp::AudioBufferPtr audio;
  Check(dsp::NewAudioBuffer(audio, 44100, kFrames, 0));
  for (std::uint64_t i = 0; audio && i < kFrames * 2; ++i) {
    audio->Frame(0)[i] = 0.5 * std::sin(2.0 * kPi * static_cast<double>(i) / 16.0);
  }
  return audio;
}

// lumaro-stage's WAV writer on a PcmBuffer of its own format.
void StageWav(const std::filesystem::path& path, std::uint16_t format, std::uint8_t channels,
              std::uint8_t bits, unsigned validBits) {
  dsp::PcmBufferPtr pcm;
  Check(dsp::NewPcmBuffer(pcm, format, channels, bits, 48000, kFrames));
  if (!pcm) return;
  for (std::uint64_t i = 0; i < pcm->DataSize(); ++i) {
    pcm->Data()[i] = static_cast<unsigned char>(i * 37);
  }
  dsp::BufferSlot slot;
  slot.Put(std::move(pcm));
  Check(tools::WriteStageOutput(path.u16string(), slot, platform::StopWord{}, validBits));
}

void WavSeeds(const std::filesystem::path& dir, const dsp::AudioBuffer& audio) {
  StageWav(dir / "pcm16-stereo.wav", dsp::kPcmInteger, 2, 16, 0);
  StageWav(dir / "pcm8-mono.wav", dsp::kPcmInteger, 1, 8, 0);
  StageWav(dir / "pcm24-in-32.wav", dsp::kPcmInteger, 2, 32, 24);
  StageWav(dir / "float32-mono.wav", dsp::kPcmFloat, 1, 32, 0);
  Check(decode::WriteWavCache((dir / "float64-cache.wav").u16string(), audio, {}));
  WriteBytes(dir / "data-first.wav", files::MakeWav({.channels = 1,
                                                     .rate = 8000,
                                                     .bits = 24,
                                                     .before = {{"JUNK", Bytes(3, 0), {}}},
                                                     .dataFirst = true},
                                                    files::PackLe(Sine(24), 24)));
}

void DsdSeeds(const std::filesystem::path& dsf, const std::filesystem::path& dsdiff) {
  const Bytes left(600, 0x69);
  const Bytes right(600, 0x96);
  WriteBytes(dsf / "stereo.dsf", files::MakeDsf({}, {left, right}));
  WriteBytes(dsf / "mono-msb.dsf", files::MakeDsf({.channels = 1, .bitsPerSample = 8}, {left}));
  WriteBytes(dsf / "three-channels.dsf", files::MakeDsf({.channels = 3,
                                                         .rate = 5644800,
                                                         .sampleCount = 4000,
                                                         .beforeData = {{"ID3 ", Bytes(5, 1), {}}}},
                                                        {left, right, left}));
  WriteBytes(dsdiff / "mono-comment.dff",
             files::MakeDsdiff({.channels = 1, .beforeData = {{"COMT", Bytes(7, 2), {}}}}, {left}));
  dsp::DsdBufferPtr dsd;
  Check(dsp::NewDsdBuffer(dsd, dsp::kDsdRates[1], 300));
  if (dsd) Check(decode::WriteDsdiffCache((dsdiff / "cache.dff").u16string(), *dsd, {}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumaro-fuzz-seeds DIR\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  const dsp::AudioBufferPtr audio = SineRecord();
  if (!audio) return 1;
  WavSeeds(Dir(root, "wav_reader"), *audio);
  DsdSeeds(Dir(root, "dsf_reader"), Dir(root, "dsdiff_reader"));

  const std::filesystem::path stream = Dir(root, "wav_stream");
  Check(decode::WriteWavCache((stream / "cache.wav").u16string(), *audio, {}));
  WriteBytes(stream / "extensible-with-list.wav",
             files::MakeWav({.formatTag = 0xFFFE,
                             .bits = 64,
                             .subFormat = files::kWavSubFormatFloat,
                             .between = {{"LIST", Bytes(9, 0), {}}}},
                            Bytes(48, 0x3f)));

  const std::filesystem::path cache = Dir(root, "cache_round_trip");
  WriteBytes(cache / "one-frame", std::string_view("\x01\x02\0\0\0\0\0\0\xf0\x3f", 10));
  WriteBytes(cache / "nan-and-odd", std::string("\x09\x03", 2) + std::string(21, '\xff'));

  const std::filesystem::path lists = Dir(root, "playlist");
  WriteBytes(lists / "relative.m3u8", "#EXTM3U\na.wav\nsub/c.flac\r\n\n# note\nb b.dsf\n");
  WriteBytes(lists / "absolute.m3u8", Words({"/dev/null", "sub\ra.wav"}));
  WriteBytes(lists / "missing.m3u8", "a.wav\nnot-there.wav\n");

  const std::filesystem::path options = Dir(root, "play_options");
  WriteBytes(options / "play", Words({"--once", "--rate", "Auto", "--fast", "a.wav"}));
  WriteBytes(options / "settings",
             Words({"--assist", "loudness", "--loudness-target", "-23", "--gapless", "--", "--x"}));
  WriteBytes(options / "output",
             Words({"--output", "out.wav", "--device", "D: x", "--verbose", ""}));

  const std::filesystem::path stages = Dir(root, "stage_line");
  WriteBytes(stages / "chain", Words({"in.wav", "out.wav", "pcm-to-float", "--then", "resample",
                                      "96000", "--then", "float-to-output", "24", "32"}));
  WriteBytes(stages / "workers", Words({"a.dsf", "b.dff", "--workers", "4", "compress", "1", "2",
                                        "3", "4", "5", "6", "7", "--then", "reverse-dsd"}));
  return failed ? 1 : 0;
}
