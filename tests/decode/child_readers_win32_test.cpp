// The FFmpeg reader on Windows, where the build puts the stand-in program beside this test program
// as ffmpeg.exe: the reader starts it with CreateProcessW on the track, whose content is the
// stand-in's script, and collects its output through the pipe.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "decode/child_run.h"
#include "decode/ffmpeg_reader.h"
#include "decode/outside_components.h"
#include "dsp/audio_buffer.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "platform/path.h"
#include "tests/support/audio_files.h"

namespace lumaro::decode {
namespace {

using testing::Bytes;
using testing::TempDir;
using testing::Utf8;

// Stereo frames of doubles, as the stream holds them, and as the buffer must hold them.
struct Values {
  std::vector<double> written, read;
};

Values EdgeValues() {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const double denormal = std::numeric_limits<double>::denorm_min();
  Values v;
  v.written = {0.5, -0.25, -0.0, denormal, 1e300, -1.0, std::nan(""), kInf, -kInf, 0.125};
  v.read = {0.5, -0.25, -0.0, denormal, 1e300, -1.0, 0.0, 0.0, 0.0, 0.125};
  for (int i = 0; i < 2000; ++i) {  // more than one piece of the pipe
    v.written.push_back(std::ldexp(i, -11) - 0.5);
    v.read.push_back(v.written.back());
  }
  return v;
}

Bytes DoubleBytes(const std::vector<double>& values) {
  Bytes bytes;
  for (const double value : values) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<unsigned char>(bits >> (8 * b)));
  }
  return bytes;
}

TEST(FfmpegReaderTest, StandInStreamsComeBackExactlyAndFailuresLeaveNothing) {
  std::u16string beside = platform::ExecutableDirectory();
  ASSERT_TRUE(platform::PathAppend(beside, FfmpegFileName()) && IsExistingFile(beside))
      << "the build puts the stand-in beside the test program";
  TempDir dir;
  const Values values = EdgeValues();
  // As a converter writes to a pipe: tags before the data, whose size it cannot know.
  const std::u16string stream = dir.Write(
      u"stream.raw", testing::MakeWav({.formatTag = 3,
                                       .rate = 48000,
                                       .bits = 64,
                                       .between = {testing::Chunk{"LIST", {'I', 'N', 'F', 'O'}}},
                                       .dataSize = 0xFFFFFFFF},
                                      DoubleBytes(values.written)));
  struct Case {
    const char* name;
    std::u16string track;  // its content is the script
    std::string script;
    bool succeeds;
    const char* cause;  // the innermost failure's name
  } const cases[] = {
      // A space and characters outside every narrow code page reach the child intact.
      {"the stream", u"\u97F3 \U0001F3B5 track.flac", "copy " + Utf8(stream), true, ""},
      {"failing child", u"fails.flac", "exit 1", false, "stream shorter than its header"},
      {"16-bit integers", u"pcm.flac",
       "copy " + Utf8(dir.Write(u"pcm.raw", testing::MakeWav({}, Bytes(64, 1)))), false,
       "stream not 64-bit float"},
      {"half a frame", u"short.flac",
       "copy " + Utf8(dir.Write(u"short.raw",
                                testing::MakeWav({.formatTag = 3, .bits = 64}, Bytes(8, 0)))),
       false, "stream holds fewer than two values"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string track = dir.Write(c.track, Bytes(c.script.begin(), c.script.end()));
    dsp::BufferSlot slot;
    platform::Word stop{0};
    const platform::FailureRecording recording(&stop);
    const Result result = ReadWithFfmpeg(track, slot, stop);
    const std::vector<platform::FailureNote> chain = platform::TakeFailureChain();
    if (!c.succeeds) {
      EXPECT_NE(result, kOk);
      EXPECT_TRUE(slot.Empty());
      ASSERT_FALSE(chain.empty());
      EXPECT_EQ(chain.back().name, "FFmpeg stream unusable");
      EXPECT_EQ(chain.back().detail, Utf8(track));
      EXPECT_EQ(chain.front().name, c.cause) << platform::FormatFailureChain(chain);
      continue;
    }
    ASSERT_EQ(result, kOk) << platform::FormatFailureChain(chain);
    const dsp::AudioBuffer* audio = slot.Get<dsp::AudioBuffer>();
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->sampleRate, 48000U);
    ASSERT_EQ(audio->frameCount, values.read.size() / 2);
    const std::vector<double> read(audio->Frame(0), audio->Frame(0) + values.read.size());
    EXPECT_EQ(DoubleBytes(read), DoubleBytes(values.read));  // -0.0 and the denormal as they are
  }
}

}  // namespace
}  // namespace lumaro::decode
