#include <algorithm>

#include "decode/byte_order.h"
#include "decode/cache_writer_frame.h"
#include "decode/cache_writers.h"
#include "decode/file_transfer.h"
#include "decode/reader_context.h"
#include "platform/failure.h"

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

constexpr std::uint32_t kVersion = 0x01050000;  // 1.5.0.0
constexpr std::uint64_t kFormSizeBeyondData = 138;
constexpr std::uint64_t kPropertySize = 94;
constexpr std::string_view kNotCompressed = "not compressed";

// The writer's record: the bit-reversal table; a 1 MiB piece area follows it.
struct DsdiffWriterContext {
  ByteTable table;
};

}  // namespace

std::array<unsigned char, kDsdiffCacheHeaderBytes> DsdiffCacheHeader(std::uint32_t dsdRate,
                                                                     std::uint64_t length) {
  const std::uint64_t dataBytes = length * 2;
  std::array<unsigned char, kDsdiffCacheHeaderBytes> h{};
  unsigned char* p = h.data();
  StoreId(p, "FRM8");
  StoreBe<std::uint64_t>(p + 4, dataBytes + kFormSizeBeyondData);
  StoreId(p + 12, "DSD ");
  StoreId(p + 16, "FVER");
  StoreBe<std::uint64_t>(p + 20, 4);
  StoreBe<std::uint32_t>(p + 28, kVersion);
  StoreId(p + 32, "PROP");
  StoreBe<std::uint64_t>(p + 36, kPropertySize);
  StoreId(p + 44, "SND ");
  StoreId(p + 48, "FS  ");
  StoreBe<std::uint64_t>(p + 52, 4);
  StoreBe<std::uint32_t>(p + 60, dsdRate);
  StoreId(p + 64, "CHNL");
  StoreBe<std::uint64_t>(p + 68, 10);
  StoreBe<std::uint16_t>(p + 76, 2);
  StoreId(p + 78, "SLFT");
  StoreId(p + 82, "SRGT");
  StoreId(p + 86, "CMPR");
  StoreBe<std::uint64_t>(p + 90, 20);
  StoreId(p + 98, "DSD ");
  p[102] = static_cast<unsigned char>(kNotCompressed.size());
  std::copy(kNotCompressed.begin(), kNotCompressed.end(), p + 103);
  p[117] = 0;  // pad to an even count
  StoreId(p + 118, "ABSS");
  StoreBe<std::uint64_t>(p + 122, 8);
  // 130 … 137: start time 0:00:00 + 0 samples.
  StoreId(p + 138, "DSD ");
  StoreBe<std::uint64_t>(p + 142, dataBytes);
  return h;
}

Result WriteDsdiffCache(std::u16string_view target, const dsp::DsdBuffer& record,
                        const platform::StopWord& stop) {
  const ContextPtr<DsdiffWriterContext> c = NewContext<DsdiffWriterContext>(kCachePieceBytes);
  if (!c) return kFailures.Note(kErrContext);
  c->table = BitReversalTable();
  unsigned char* piece = ScratchOf(*c);
  return WithCreatedFile(target, [&](platform::File& file) -> Result {
    if (stop.Load() != 0) return kFailures.Note(kErrStopped);
    const auto header = DsdiffCacheHeader(record.dsdRate, record.length);
    if (WriteFully(file, header.data(), header.size()) != header.size())
      return kFailures.Note(kErrHeader);
    const unsigned char* data = record.Data();
    const std::uint64_t total = record.length * 2;
    for (std::uint64_t done = 0; done < total;) {
      if (stop.Load() != 0) return kFailures.Note(kErrStopped);
      const std::uint64_t n = std::min(total - done, kCachePieceBytes);
      for (std::uint64_t i = 0; i < n; ++i) piece[i] = c->table[data[done + i]];
      if (WriteFully(file, piece, n) != n) return kFailures.Note(kErrData);
      done += n;
    }
    return kOk;
  });
}

}  // namespace lumaro::decode
