#include <algorithm>

#include "decode/byte_order.h"
#include "decode/cache_writer_frame.h"
#include "decode/cache_writers.h"
#include "decode/file_transfer.h"
#include "decode/reader_context.h"
#include "dsp/bit_reverse.h"
#include "platform/failure.h"
#include "platform/file_output/dsdiff_header.h"

namespace lumaro::decode {
namespace {

enum : Result {
  kErrContext = FirstCode(FailureSite::kDsdiffCacheWriter),
  kErrStopped,
  kErrHeader,
  kErrData
};
constexpr platform::FailureNames kFailures{
    FailureSite::kDsdiffCacheWriter,
    kErrData,
    {"DSDIFF cache record refused", "DSDIFF cache write stopped",
     "DSDIFF cache header write failed", "DSDIFF cache data write failed"}};

// The writer's record: nothing but the 1 MiB piece area that follows it, kept aligned.
struct alignas(16) DsdiffWriterContext {};

}  // namespace

std::array<unsigned char, kDsdiffCacheHeaderBytes> DsdiffCacheHeader(std::uint32_t dsdRate,
                                                                     std::uint64_t length) {
  return platform::file_output::DsdiffHeader(dsdRate, length);
}

Result WriteDsdiffCache(std::u16string_view target, const dsp::DsdBuffer& record,
                        const platform::StopWord& stop) {
  const ContextPtr<DsdiffWriterContext> c = NewContext<DsdiffWriterContext>(kCachePieceBytes);
  if (!c) return kFailures.Note(kErrContext);
  unsigned char* piece = ScratchOf(*c);
  return WithCreatedFile(target, [&](platform::File& file) -> Result {
    if (stop.Load() != 0) return kFailures.Note(kErrStopped);
    const auto header = DsdiffCacheHeader(record.dsdRate, record.length);
    if (WriteFully(file, header.data(), header.size()) != header.size())
      return kFailures.NoteSystemFailure(kErrHeader, target);
    const unsigned char* data = record.Data();
    const std::uint64_t total = record.length * 2;
    for (std::uint64_t done = 0; done < total;) {
      if (stop.Load() != 0) return kFailures.Note(kErrStopped);
      const std::uint64_t n = std::min(total - done, kCachePieceBytes);
      dsp::ReverseBitsOf(data + done, piece, n);
      if (WriteFully(file, piece, n) != n) return kFailures.NoteSystemFailure(kErrData, target);
      done += n;
    }
    return kOk;
  });
}

}  // namespace lumaro::decode
