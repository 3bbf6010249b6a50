#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/driver_api.h"
#include "platform/file_output/file_output.h"

namespace lumaro::platform::file_output {

// The class id text of the driver File output.
inline constexpr std::u16string_view kFileDriverClassId = u"{4C554D41-524F-4649-4C45-4F5554505554}";

// Halves of the lead-in a player gives before the music: it counts down three seconds (PCM:
// frames, 1-bit: bytes per channel) by one half while more than a half remains.
std::uint64_t LeadInHalves(std::uint32_t rate, std::int32_t bufferSize, bool dsd);

// A registry holding one driver, "File output", that records what it plays: PCM at every rate
// of the rate ladder as 32-bit little-endian samples into a WAV file, and 1-bit data at DSD64 …
// DSD512 (earliest sample in the most significant bit) into a DSDIFF file, the bytes as they
// arrived. Files are named like the endpoint File output's (the options' path, then "-2", "-3"
// … for each start), with ".wav" or ".dff" as extension. From start on, a thread of the driver
// calls bufferSwitch once per half: paced in real time by the options' clock, or, unpaced, as
// soon as the player has called outputReady for the previous half. The halves given during the
// lead-in are left out; the file is complete once stop has answered. Thread contract: as the
// driver family; WrittenFiles from any thread.
class FileDriverRegistry final : public driver::DriverRegistry {
 public:
  explicit FileDriverRegistry(FileOutputOptions options);
  ~FileDriverRegistry() override;

  std::unique_ptr<driver::DriverKey> OpenDriversKey() override;
  std::unique_ptr<driver::Driver> CreateInstance(const driver::ClassId& id) override;

  // The files opened so far, in order.
  std::vector<std::u16string> WrittenFiles() const;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace lumaro::platform::file_output
