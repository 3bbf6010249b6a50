#include "platform/file_output/file_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "app/driver_lists.h"
#include "decode/byte_order.h"
#include "platform/file_output/file_driver.h"
#include "platform/text.h"
#include "tests/output/endpoint_test_fixture.h"
#include "tests/support/audio_files.h"
#include "tests/support/string_list.h"

namespace lumaro::testing {
namespace {

using ::testing::ElementsAre;
namespace fo = platform::file_output;

Bytes ReadAll(const std::u16string& path) { return ReadFileBytes(path).value_or(Bytes{}); }

std::uint32_t Le32(const Bytes& b, std::size_t at) { return decode::LoadLe<std::uint32_t>(&b[at]); }

class FileOutputTest : public EndpointTest {
 protected:
  std::u16string Path(const char* name) const { return dir_.File(platform::Utf8ToUtf16(name)); }
  TempDir dir_;
};

TEST_F(FileOutputTest, RecordsWhatFollowsTheLeadInWithACompleteHeader) {
  fo::FileOutputSystem system({.path = Path("out.wav"), .paced = false});
  services_.endpoints = &system;
  outputFrames_ = 20000;
  EXPECT_EQ(Play({u"/m/a.wav"}, u"W: File output", u"48000"), kOk);
  ASSERT_THAT(system.WrittenFiles(), ElementsAre(Path("out.wav")));
  const Bytes file = ReadAll(Path("out.wav"));
  // 16-byte PCM format chunk; data = the track then its padded tail and one silent buffer.
  ASSERT_GE(file.size(), 44U);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(Le32(file, 4), file.size() - 8);
  EXPECT_EQ(Le32(file, 16), 16U);
  EXPECT_EQ(file[20], 1);  // integer PCM
  EXPECT_EQ(Le32(file, 24), 48000U);
  EXPECT_EQ(file[34], 32);  // bits
  const std::uint32_t dataBytes = Le32(file, 40);
  EXPECT_EQ(dataBytes, 4U * 9600 * 8);  // 200 ms buffers of 9600 frames
  EXPECT_TRUE(BytesAt(file, 44, PatternBytes(20000 * 8)));
  EXPECT_TRUE(BytesAt(file, 44 + 20000 * 8, Bytes(file.size() - 44 - 20000 * 8, 0)));
}

TEST_F(FileOutputTest, PacedByItsClockItRecordsTheSame) {
  FakeClock pace;  // periods pass at once, through the pacing thread
  fo::FileOutputSystem system({.path = Path("paced.wav"), .paced = true, .clock = &pace});
  services_.endpoints = &system;
  services_.clock = &platform::SystemClock();  // the player really waits for the device
  outputFrames_ = 10000;
  EXPECT_EQ(Play({u"/m/a.wav"}, u"W: File output", u"44100"), kOk);
  const Bytes file = ReadAll(Path("paced.wav"));
  EXPECT_TRUE(BytesAt(file, 44, PatternBytes(10000 * 8)));
  EXPECT_GT(pace.NowMicroseconds(), 3'000'000U);  // the lead-in alone is 3 s of periods
}

TEST_F(FileOutputTest, EveryInitialisationGetsItsOwnNumberedFile) {
  fo::FileOutputSystem system({.path = Path("list.wav"), .paced = false});
  services_.endpoints = &system;
  EXPECT_EQ(Play({u"/m/a.wav", u"/m/b.wav", u"/m/c.wav"}, u"W: File output", u"Auto"), kOk);
  EXPECT_THAT(system.WrittenFiles(),
              ElementsAre(Path("list.wav"), Path("list-2.wav"), Path("list-3.wav")));
  EXPECT_EQ(fo::NumberedPath(u"/x/noext", 2), u"/x/noext-2");
}

TEST_F(FileOutputTest, TakesTheLadderInExclusiveModeAndFloatWhenShared) {
  fo::FileOutputSystem system({.path = Path("f.wav"), .paced = false});
  namespace ep = platform::endpoint;
  std::unique_ptr<ep::Enumerator> enumerator;
  std::unique_ptr<ep::EndpointCollection> all;
  std::unique_ptr<ep::Endpoint> endpoint;
  std::unique_ptr<ep::AudioClient> client;
  ASSERT_EQ(system.CreateEnumerator(&enumerator), ep::kSOk);
  ASSERT_EQ(enumerator->EnumAudioEndpoints(&all), ep::kSOk);
  ASSERT_EQ(all->Item(0, &endpoint), ep::kSOk);
  ASSERT_EQ(endpoint->Activate(&client), ep::kSOk);
  using enum ep::ShareMode;
  using enum ep::SubFormat;
  struct Case {
    ep::ShareMode mode;
    ep::SubFormat format;
    std::uint32_t rate, valid, container;
    ep::HResult answer;
  } const cases[] = {
      {kExclusive, kPcm, 32000, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 44100, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 352800, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 705600, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 768000, 24, 24, ep::kSOk},
      {kExclusive, kPcm, 22050, 16, 16, ep::kEFail},
      {kExclusive, kPcm, 44100, 16, 32, ep::kEFail},
      {kShared, kIeeeFloat, 8000, 32, 32, ep::kSOk},
      {kShared, kIeeeFloat, 705600, 32, 32, ep::kSFalse},
  };
  std::optional<ep::WaveFormat> closest;
  for (const Case& c : cases) {
    const auto answer = client->IsFormatSupported(
        c.mode, ep::MakeWaveFormat(c.format, c.rate, c.valid, c.container), &closest);
    EXPECT_EQ(answer == ep::kSOk, c.answer == ep::kSOk) << c.rate;
    EXPECT_EQ(answer == ep::kSFalse, c.answer == ep::kSFalse);
  }
  ASSERT_TRUE(closest.has_value());
  EXPECT_EQ(closest->samplesPerSec, 384000U);
}

// ---- The driver File output ------------------------------------------------------------------

namespace drv = platform::driver;

// The player's side of the callbacks, process-wide as the callbacks have no context.
std::atomic<int> gFreeHalf{0};
std::atomic<std::uint64_t> gSwitches{0};
platform::Event* gSwitched = nullptr;
void OnSwitch(std::int32_t index, bool) {
  gFreeHalf = 1 - index;
  ++gSwitches;
  gSwitched->Set();
}

// Plays the lead-in (zeros) then `halves` halves of a byte pattern through `driver`, as the
// engine does: wait for a switch, fill the free half of both channels, tell the driver.
// Answers the bytes each channel was given after the lead-in. `afterReady` runs after each
// outputReady with the number of the half just handed over.
std::array<Bytes, 2> Feed(drv::Driver& driver, bool dsd, std::uint32_t rate, std::int32_t size,
                          int halves, const std::function<void(std::uint64_t)>& afterReady = {}) {
  constexpr std::uint32_t kSwitchDeadlineMs = 2000;
  const std::unique_ptr<platform::Event> switched = platform::Event::Create();
  gSwitched = switched.get();
  gSwitches = 0;
  drv::IoFormat format;
  format.formatType = dsd ? drv::kASIODSDFormat : drv::kASIOPCMFormat;
  drv::BufferInfo infos[2];
  infos[1].channelNum = 1;
  const drv::Callbacks callbacks{.bufferSwitch = OnSwitch};
  std::array<Bytes, 2> given;
  EXPECT_EQ(driver.init(nullptr), drv::kInitSucceeded);
  EXPECT_EQ(driver.future(drv::kAsioSetIoFormat, &format), drv::kAseSuccess);
  EXPECT_EQ(driver.setSampleRate(rate), drv::kAseOk);
  if (driver.createBuffers(infos, 2, size, &callbacks) != drv::kAseOk ||
      driver.start() != drv::kAseOk) {
    ADD_FAILURE() << "driver not started";
    return given;
  }
  const std::size_t bytes = dsd ? size / 8 : size * 4;
  const std::uint64_t leadIn = platform::file_output::LeadInHalves(rate, size, dsd);
  for (std::uint64_t h = 0; h < leadIn + halves; ++h) {
    if (switched->Wait(kSwitchDeadlineMs) != platform::WaitResult::kSignalled) {
      ADD_FAILURE() << "no switch at half " << h;
      break;
    }
    for (int c = 0; c < 2; ++c) {
      auto* out = static_cast<unsigned char*>(infos[c].buffers[gFreeHalf.load()]);
      for (std::size_t i = 0; i < bytes; ++i) {
        out[i] = h < leadIn ? 0 : static_cast<unsigned char>(h * 7 + c * 101 + i);
        if (h >= leadIn) given[c].push_back(out[i]);
      }
    }
    (void)driver.outputReady();
    if (afterReady) afterReady(h);
  }
  EXPECT_EQ(driver.stop(), drv::kAseOk);
  EXPECT_EQ(driver.disposeBuffers(), drv::kAseOk);
  return given;
}

// The two channels' bytes as a file holds them: interleaved by samples of `sample` bytes.
Bytes Interleaved(const std::array<Bytes, 2>& given, std::size_t sample) {
  Bytes out;
  for (std::size_t at = 0; at < given[0].size(); at += sample) {
    for (const Bytes& channel : given)
      out.insert(out.end(), channel.begin() + at, channel.begin() + at + sample);
  }
  return out;
}

// PCM becomes a 32-bit WAV and 1-bit data a DSDIFF file, each channel's bytes interleaved by
// sample exactly as given; files are numbered by run, with the extension of their content.
TEST_F(FileOutputTest, TheDriverRecordsWhatFollowsTheLeadIn) {
  fo::FileDriverRegistry registry({.path = Path("out.wav"), .paced = false});
  struct Case {
    bool dsd;
    std::uint32_t rate;
    std::int32_t size;
    std::size_t header, sample;
  } const cases[] = {{false, 44100, 44100 / 5, 44, 4},
                     {true, 2822400, 2822400 / 5, 150, 1},
                     {false, 768000, 768000 / 5, 44, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    std::unique_ptr<drv::Driver> driver =
        registry.CreateInstance(*drv::ClassIdFromString(fo::kFileDriverClassId));
    ASSERT_NE(driver, nullptr);
    const std::array<Bytes, 2> given = Feed(*driver, c.dsd, c.rate, c.size, 3);
    driver.reset();
    const Bytes expected = Interleaved(given, c.sample);
    const Bytes file = ReadAll(registry.WrittenFiles().back());
    ASSERT_EQ(file.size(), c.header + expected.size());
    EXPECT_TRUE(BytesAt(file, c.header, expected));
    if (c.dsd) {
      EXPECT_EQ(decode::LoadBe<std::uint64_t>(&file[4]), file.size() - 12);
      EXPECT_EQ(decode::LoadBe<std::uint32_t>(&file[60]), c.rate);
    } else {
      EXPECT_EQ(Le32(file, 24), c.rate);
      EXPECT_EQ(Le32(file, 40), expected.size());
    }
  }
  EXPECT_THAT(registry.WrittenFiles(),
              ElementsAre(Path("out.wav"), Path("out-2.dff"), Path("out-3.wav")));
  // The lead-in counts down three seconds by halves while more than a half remains.
  EXPECT_EQ(fo::LeadInHalves(44100, 8820, false), 14U);
  EXPECT_EQ(fo::LeadInHalves(44100, 2048, false), 64U);
  EXPECT_EQ(fo::LeadInHalves(2822400, 564480, true), 14U);
  EXPECT_EQ(fo::LeadInHalves(32000, 96000, false), 0U);
  // The device list offers it with every rate of both formats.
  services_.drivers = &registry;
  EXPECT_EQ(Entries(app::AsioRates(app_, fo::kFileOutputName).get()).size(), 16U);
}

// A clock whose sleeps last until the test moves its time on (or lets every sleep through).
class StepClock final : public platform::Clock {
 public:
  std::uint64_t NowMicroseconds() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }
  void SleepUntilMicroseconds(std::uint64_t deadline) override {
    std::unique_lock<std::mutex> lock(mutex_);
    moved_.wait(lock, [&] { return free_ || now_ >= deadline; });
  }
  platform::WaitResult Wait(platform::Event& event, std::uint32_t milliseconds) override {
    return event.Wait(milliseconds);
  }
  void Advance(std::uint64_t microseconds) {
    Change([&] { now_ += microseconds; });
  }
  void RunFree() {
    Change([&] { free_ = true; });
  }

 private:
  void Change(const std::function<void()>& change) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      change();
    }
    moved_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable moved_;
  std::uint64_t now_ = 0;
  bool free_ = false;
};

// Paced, the driver switches halves once per period of its clock and never ahead of it: what
// the player handed over in time is recorded as given.
TEST_F(FileOutputTest, ThePacedDriverSwitchesOncePerPeriodOfItsClock) {
  StepClock pace;
  fo::FileDriverRegistry registry({.path = Path("paced.wav"), .paced = true, .clock = &pace});
  std::unique_ptr<drv::Driver> driver =
      registry.CreateInstance(*drv::ClassIdFromString(fo::kFileDriverClassId));
  ASSERT_NE(driver, nullptr);
  constexpr std::uint32_t kRate = 44100;
  constexpr std::int32_t kSize = kRate / 5;
  constexpr std::uint64_t kPeriodUs = 200'000;
  constexpr int kHalves = 3;
  const std::uint64_t last = fo::LeadInHalves(kRate, kSize, false) + kHalves - 1;
  const std::array<Bytes, 2> given = Feed(*driver, false, kRate, kSize, kHalves, [&](auto h) {
    // The half handed over is the one played after the switch the player waited for.
    EXPECT_EQ(gSwitches.load(), h + 1);
    EXPECT_EQ(pace.NowMicroseconds(), h * kPeriodUs);
    if (h == last) {
      pace.RunFree();  // lets the driver's thread see the stop
    } else {
      pace.Advance(kPeriodUs);
    }
  });
  driver.reset();
  const Bytes file = ReadAll(Path("paced.wav"));
  EXPECT_TRUE(BytesAt(file, 44, Interleaved(given, 4)));
}

// While a recording runs, the file on disk always holds a header that claims no more data than
// follows it and no less than all but the last refresh's worth, so a killed run leaves a
// readable file; closing it makes the claim exact.
TEST(HeaderedFileTest, TheHeaderOnDiskFollowsTheDataWithinOneRefresh) {
  TempDir dir;
  const std::u16string path = dir.File(u"rec.bin");
  constexpr std::uint64_t kRefresh = 1000, kPiece = 400, kPieces = 10;
  // A header of eight bytes: the data size, little-endian.
  const auto header = [](std::uint64_t bytes) {
    return PackLe({static_cast<std::int64_t>(bytes)}, 64);
  };
  const auto claimOnDisk = [&] {
    const std::optional<Bytes> file = ReadFileBytes(path);
    EXPECT_TRUE(file && file->size() >= 8);
    return file ? std::make_pair(decode::LoadLe<std::uint64_t>(file->data()), file->size() - 8)
                : std::make_pair(std::uint64_t{0}, std::size_t{0});
  };
  {
    fo::HeaderedFile file(platform::File::Open(path, platform::OpenMode::kCreateAlways), path,
                          header, kRefresh);
    const Bytes piece(kPiece, 0x5A);
    for (std::uint64_t i = 1; i <= kPieces; ++i) {
      ASSERT_TRUE(file.Append(piece.data(), piece.size()));
      const auto [claim, data] = claimOnDisk();
      EXPECT_EQ(data, i * kPiece);
      EXPECT_LE(claim, data);
      EXPECT_LT(data - claim, kRefresh);
    }
  }
  EXPECT_EQ(claimOnDisk().first, kPiece * kPieces);
}

}  // namespace
}  // namespace lumaro::testing
