#include "decode/file_transfer.h"

#include <algorithm>

namespace lumaro::decode {

std::uint64_t ReadFully(platform::File& file, void* destination, std::uint64_t bytes) noexcept {
  auto* at = static_cast<unsigned char*>(destination);
  std::uint64_t done = 0;
  while (done < bytes) {
    const std::uint64_t asked = std::min(bytes - done, kMaxTransferBytes);
    const std::int64_t got = file.Read(at + done, asked);
    if (got <= 0) break;
    done += static_cast<std::uint64_t>(got);
    if (static_cast<std::uint64_t>(got) < asked) break;
  }
  return done;
}

bool FileHolds(const platform::File& file, std::uint64_t bytes) noexcept {
  std::uint64_t size = 0, at = 0;
  return file.Size(&size) && file.Position(&at) && at <= size && size - at >= bytes;
}

std::uint64_t WriteFully(platform::File& file, const void* source, std::uint64_t bytes) noexcept {
  const auto* at = static_cast<const unsigned char*>(source);
  std::uint64_t done = 0;
  while (done < bytes) {
    const std::uint64_t asked = std::min(bytes - done, kMaxTransferBytes);
    const std::int64_t put = file.Write(at + done, asked);
    // A short write (a full disk) is followed by one more, whose failure says why.
    if (put <= 0) break;
    done += static_cast<std::uint64_t>(put);
  }
  return done;
}

}  // namespace lumaro::decode
