#pragma once

#include <functional>
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

// A file of a fixed-size header followed by appended data, whose header always tells the data
// written so far, within `refreshBytes`: it is rewritten in place each time that much more data
// has arrived, and when the file is closed. So a run that is killed, or a disk that fills, leaves
// a file whose header matches its data (to within a second of audio when `refreshBytes` is a
// second's worth); after a failed write nothing more is appended and the header tells the data
// written whole. One thread at a time.
class HeaderedFile {
 public:
  // The header for `dataBytes` of data; its size must not depend on them.
  using HeaderFor = std::function<std::vector<std::uint8_t>(std::uint64_t dataBytes)>;
  // `path` names the file in the note of a failed write.
  HeaderedFile(std::unique_ptr<File> file, std::u16string path, HeaderFor header,
               std::uint64_t refreshBytes);
  ~HeaderedFile();
  HeaderedFile(const HeaderedFile&) = delete;
  HeaderedFile& operator=(const HeaderedFile&) = delete;

  // Appends `bytes`; false once any write has failed.
  bool Append(const std::uint8_t* data, std::uint64_t bytes);
  bool ok() const { return ok_; }

 private:
  bool WriteHeader();

  std::unique_ptr<File> file_;
  std::u16string path_;
  HeaderFor header_;
  std::uint64_t refreshBytes_;
  std::uint64_t headerBytes_ = 0;
  std::uint64_t dataBytes_ = 0;
  std::uint64_t sinceHeader_ = 0;
  bool ok_ = false;
};

// Opens a File output's file `path` for writing; on failure notes the path and the system's
// reason (what --verbose shows) and answers nullptr.
std::unique_ptr<File> CreateOutputFile(const std::u16string& path);

// The path of the n-th initialisation (n from 1): "dir/name.wav", "dir/name-2.wav", …
std::u16string NumberedPath(const std::u16string& path, unsigned n);

// The extensions of the driver File output's files: PCM into a WAV, 1-bit data into a DSDIFF.
inline constexpr std::u16string_view kWavExtension = u".wav";
inline constexpr std::u16string_view kDsdiffExtension = u".dff";

// `path` with its extension replaced by `extension` (".wav").
std::u16string WithExtension(const std::u16string& path, std::u16string_view extension);

// True when `path` is (or would be) one of the files a File output writes for the options'
// `output`, in a run of any length: the endpoint's n-th file (NumberedPath), or the driver's
// (".wav" or ".dff" in place of the extension). Compared as files (SameFile).
bool IsOutputFile(const std::u16string& output, const std::u16string& path);

}  // namespace lumaro::platform::file_output
