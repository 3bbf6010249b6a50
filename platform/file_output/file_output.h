#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/endpoint_api.h"

namespace lumaro::platform::file_output {

// The endpoint name of the File output.
inline constexpr std::u16string_view kFileOutputName = u"File output";

struct FileOutputOptions {
  // The WAV file of the first initialisation; later ones add "-2", "-3" … before the extension.
  std::u16string path = u"lumaro-output.wav";
  // true: the device asks for data once per period in real time; false: as fast as it is fed.
  bool paced = true;
  Clock* clock = &SystemClock();
};

// An endpoint that records what it plays into a WAV file: integer PCM (extensible when the valid
// bits are fewer than the container's), 32-bit float, or DoP frames as 24/32-bit PCM. It takes
// every exclusive PCM candidate (32/32, 24/32, 24/24, 16/16) at every rate of the rate ladder,
// and shared 32-bit float at 8000 … 384000 Hz. The header is completed when the audio client and
// its render clients are all released. Thread contract: as the endpoint family; WrittenFiles
// from any thread.
class FileOutputSystem final : public endpoint::EndpointSystem {
 public:
  explicit FileOutputSystem(FileOutputOptions options);
  ~FileOutputSystem() override;

  endpoint::HResult CreateEnumerator(std::unique_ptr<endpoint::Enumerator>* enumerator) override;

  // The files opened so far, in order.
  std::vector<std::u16string> WrittenFiles() const;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

// The RIFF header of a file holding `dataBytes` of `format` (sizes clamp at 4 GiB).
std::vector<std::uint8_t> WavHeader(const endpoint::WaveFormat& format, std::uint64_t dataBytes);

// Writes all `bytes`; false on a short write.
bool WriteAll(File& file, const std::uint8_t* data, std::uint64_t bytes);

// The path of the n-th initialisation (n from 1): "dir/name.wav", "dir/name-2.wav", …
std::u16string NumberedPath(const std::u16string& path, unsigned n);

// `path` with its extension replaced by `extension` (".wav").
std::u16string WithExtension(const std::u16string& path, std::u16string_view extension);

// True when `path` is (or would be) one of the files a File output writes for the options'
// `output`, in a run of any length: the endpoint's n-th file (NumberedPath), or the driver's
// (".wav" or ".dff" in place of the extension). Compared as files (SameFile).
bool IsOutputFile(const std::u16string& output, const std::u16string& path);

}  // namespace lumaro::platform::file_output
