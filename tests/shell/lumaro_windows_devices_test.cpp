// lumaro-cli.exe on the system's devices: the render endpoints of the audio system, and the test
// driver, registered with regsvr32 as any driver is, behaving as its switches say. A driver that
// fails the listing's checks (no 1-bit format, an init that hangs) cannot be chosen at all, so
// those switches are cases of the listing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dsp/bit_reverse.h"
#include "platform/text.h"
#include "platform/win32/win32_api.h"
#include "tests/support/audio_files.h"
#include "tests/support/process.h"

namespace lumaro::testing {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kRegsvr32 = "C:\\windows\\system32\\regsvr32.exe";
constexpr const char* kDriverEntry = "A: Lumaro Test Driver";
constexpr const wchar_t* kSwitches = L"LUMARO_TEST_DRIVER";
constexpr int kOk = 0;
constexpr int kFailed = 1;

// The test driver is registered for the tests of this program and unregistered after them.
class WindowsDevicesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(RunProcess({kRegsvr32, "/s", LUMARO_TEST_DRIVER}).status, 0);
  }
  static void TearDownTestSuite() { (void)RunProcess({kRegsvr32, "/u", "/s", LUMARO_TEST_DRIVER}); }
  void TearDown() override { ::SetEnvironmentVariableW(kSwitches, nullptr); }

  // lumaro-cli.exe with the test driver's `switches`; its output file goes to "out" here.
  ProcessRun Cli(std::vector<std::string> args, const std::string& switches = "") {
    const std::string all = "fast,out=" + Utf8(dir_.File(u"out")) + "," + switches;
    ::SetEnvironmentVariableW(kSwitches,
                              reinterpret_cast<const wchar_t*>(platform::Utf8ToUtf16(all).c_str()));
    args.insert(args.begin(), LUMARO_PROGRAM);
    return RunProcess(args);
  }

  TempDir dir_;
};

// The line after `entry` in a device listing: its rates.
std::string RatesOf(const ProcessRun& run, const std::string& entry) {
  const auto at = std::find(run.lines.begin(), run.lines.end(), entry);
  return at == run.lines.end() || at + 1 == run.lines.end() ? "" : *(at + 1);
}

TEST_F(WindowsDevicesTest, TheDriverIsListedWithItsRatesOnlyWhenItTakesDsdAndAnswersInTime) {
  struct Case {
    const char* switches;
    bool listed;
  };
  for (const Case& c :
       {Case{"", true}, Case{"nodsd", false}, Case{"hang-init", false}, Case{"version=1", false}}) {
    SCOPED_TRACE(c.switches);
    const ProcessRun run = Cli({"--asio", "devices"}, c.switches);
    ASSERT_EQ(run.status, kOk);
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), kDriverEntry), c.listed ? 1 : 0);
    if (!c.listed) continue;
    EXPECT_EQ(RatesOf(run, kDriverEntry),
              "  Auto 32000 44100 48000 88200 96000 176400 192000 352800 384000 705600 768000 D64 "
              "D128 D256 D512");
    // The system's drivers come before the File output.
    EXPECT_LT(std::find(run.lines.begin(), run.lines.end(), kDriverEntry),
              std::find(run.lines.begin(), run.lines.end(), "A: File output"));
  }
}

TEST_F(WindowsDevicesTest, TheDriverPlaysNativeDsdAndPcmExactlyAndRefusesWhatItCannot) {
  Bytes left(8192), right(8192);
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = static_cast<unsigned char>(i * 3 + 7);
    right[i] = static_cast<unsigned char>(i * 11 + 2);
  }
  const std::string dsf = Utf8(dir_.Write(u"a.dsf", MakeDsf({}, {left, right})));
  const std::vector<std::int64_t> samples = {16384, -16384, 1, -1, 32767, -32768, 0, 1234};
  const std::string wav = Utf8(dir_.Write(u"a.wav", MakeWav({}, PackLe(samples, 16))));
  Bytes dsdBytes, pcmBytes;
  for (std::size_t i = 0; i < left.size(); ++i) {
    dsdBytes.push_back(dsp::kBitReversed[left[i]]);
    dsdBytes.push_back(dsp::kBitReversed[right[i]]);
  }
  // 16-bit samples as 32-bit ones: through 64-bit float, scaled to full scale and rounded.
  constexpr double kFrom16 = 32768.0, kTo32 = 2147483647.0;
  for (const std::int64_t s : samples) {
    const Bytes b = PackLe({std::llrint(s / kFrom16 * kTo32)}, 32);
    pcmBytes.insert(pcmBytes.end(), b.begin(), b.end());
  }
  struct Case {
    const char* name;
    const char* switches;
    const std::string& track;
    const char* rate;
    int status;
    const char* lastLine;
    const char16_t* output;  // the file the driver wrote, holding `expected`
    const Bytes* expected;
  };
  const Case kCases[] = {
      {"native DSD64", "", dsf, "Auto", kOk, "Decode: 1bit 2822400Hz - Out: 1bit 2822400Hz DSD",
       u"out.dff", &dsdBytes},
      {"PCM", "", wav, "Auto", kOk, "Decode: 16bit 44100Hz - Out: 32/32bit 44100Hz", u"out.wav",
       &pcmBytes},
      // 44100 / 5 frames lowered to the driver's largest buffer (it refuses any other size).
      {"buffer limits", "min=64,max=2048,size=2048", wav, "44100", kOk,
       "Decode: 16bit 44100Hz - Out: 32/32bit 44100Hz", u"out.wav", &pcmBytes},
      // The fifth init of the process is the probe before playing (the listing and the rate list
      // each probed and initialised once).
      {"init hangs after the listing", "hang-init-from=5", wav, "Auto", kFailed,
       "DEVICE ERROR: device not available", nullptr, nullptr},
      {"float samples", "type=Float32LSB", wav, "Auto", kFailed, "DEVICE ERROR: unsupported format",
       nullptr, nullptr},
      {"callbacks stop", "switches=3", wav, "Auto", kFailed, "ERROR: WaitForSingleObject failed",
       nullptr, nullptr},
      {"time info only", "timeinfo-only", wav, "Auto", kFailed, "ERROR: WaitForSingleObject failed",
       nullptr, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const ProcessRun run =
        Cli({"--asio", "--once", "--device", kDriverEntry, "--rate", c.rate, c.track}, c.switches);
    EXPECT_EQ(run.status, c.status);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back(), c.lastLine);
    if (c.output == nullptr) continue;
    const std::optional<Bytes> written = ReadFileBytes(dir_.File(c.output));
    ASSERT_TRUE(written);
    EXPECT_NE(std::search(written->begin(), written->end(), c.expected->begin(), c.expected->end()),
              written->end())
        << written->size() << " bytes";
  }
}

// The audio system's endpoint under Wine: its ALSA driver's "default" PCM, which ALSA finds in the
// configuration its variable names (set before Wine started: Wine hands children the Linux
// environment it started with). The test writes it there: the ALSA test device, taking float and
// 32-bit samples at 44100 and 48000 Hz, paced four times faster than real time (Wine refills the
// device at most every 10 ms), recording what it plays beside the configuration.
class WineSink {
 public:
  WineSink() {
    const char* config = std::getenv("ALSA_CONFIG_PATH");
    EXPECT_NE(config, nullptr) << "ALSA_CONFIG_PATH names no configuration (ctest sets it)";
    if (config == nullptr) return;
    const std::filesystem::path linuxPath(config);
    record_ = linuxPath.parent_path().string() + "/default.raw";
    const std::string device = LUMARO_WINE_ALSA_DEVICE;
    EXPECT_TRUE(std::filesystem::exists(kDrive + device))
        << device << " is missing: the release preset builds it (make build-release)";
    std::filesystem::create_directories(kDrive + linuxPath.parent_path().string());
    std::ofstream(kDrive + config)
        << "pcm_type.lumarotest { lib \"" << device << "\" }\n"
        << "pcm.!default { type lumarotest formats [ \"FLOAT_LE\" \"S32_LE\" ] "
        << "rates [ 44100 48000 ] speed 4 record \"" << record_ << "\" }\n";
    std::filesystem::remove(kDrive + record_);
  }
  std::optional<Bytes> Played() const {
    return ReadFileBytes(platform::Utf8ToUtf16(kDrive + record_));
  }

 private:
  // The drive Wine shows the Linux root as.
  const std::string kDrive = "Z:";
  std::string record_;
};

TEST_F(WindowsDevicesTest, TheSystemsEndpointPlaysSharedModeExactlyAndRefusesEventDrivenExclusive) {
  WineSink sink;
  const std::string endpoint = "W: Out: default";
  const ProcessRun listing = Cli({"devices"});
  ASSERT_EQ(listing.status, kOk);
  EXPECT_EQ(RatesOf(listing, endpoint), "  Share Auto 44100 48000");
  EXPECT_LT(std::find(listing.lines.begin(), listing.lines.end(), endpoint),
            std::find(listing.lines.begin(), listing.lines.end(), "W: File output"));

  const std::vector<std::int64_t> samples = {16384, -16384, 1, -1, 32767, -32768, 0, 1234};
  const std::string wav = Utf8(dir_.Write(u"a.wav", MakeWav({}, PackLe(samples, 16))));
  const ProcessRun shared = Cli({"--once", "--device", endpoint, "--rate", "Share", wav});
  EXPECT_EQ(shared.status, kOk);
  ASSERT_FALSE(shared.lines.empty());
  EXPECT_EQ(shared.lines.back(), "Decode: 16bit 44100Hz - Out: 32/32bit float 44100Hz");
  Bytes expected;
  for (const std::int64_t s : samples) {
    const auto value = std::bit_cast<std::uint32_t>(static_cast<float>(s / 32768.0));
    const Bytes b = PackLe({value}, 32);
    expected.insert(expected.end(), b.begin(), b.end());
  }
  const std::optional<Bytes> played = sink.Played();
  ASSERT_TRUE(played);
  EXPECT_NE(std::search(played->begin(), played->end(), expected.begin(), expected.end()),
            played->end());

  // Wine answers an event-driven exclusive stream as a device in use.
  const ProcessRun exclusive = Cli({"--once", "--device", endpoint, "--rate", "Auto", wav});
  EXPECT_EQ(exclusive.status, kFailed);
  ASSERT_FALSE(exclusive.lines.empty());
  EXPECT_EQ(exclusive.lines.back(), "DEVICE ERROR: Initialize failed");
}

}  // namespace
}  // namespace lumaro::testing
