#include "platform/file_output/dsdiff_header.h"

#include <algorithm>
#include <string_view>

#include "platform/byte_order.h"

namespace lumaro::platform::file_output {
namespace {

constexpr std::uint32_t kVersion = 0x01050000;  // 1.5.0.0
constexpr std::uint64_t kFormSizeBeyondData = 138;
constexpr std::uint64_t kPropertySize = 94;
constexpr std::string_view kNotCompressed = "not compressed";

}  // namespace

std::array<unsigned char, kDsdiffHeaderBytes> DsdiffHeader(std::uint32_t dsdRate,
                                                           std::uint64_t bytesPerChannel) {
  const std::uint64_t dataBytes = bytesPerChannel * 2;
  std::array<unsigned char, kDsdiffHeaderBytes> h{};
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

}  // namespace lumaro::platform::file_output
