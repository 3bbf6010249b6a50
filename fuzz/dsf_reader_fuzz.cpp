// ReadDsf on arbitrary bytes: a record it answers is at a DSD rate and holds no more bytes per
// channel than the file had.
#include <algorithm>

#include "decode/dsf_reader.h"
#include "fuzz/read_file_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumaro;
  fuzz::ReadFromMemory<dsp::DsdBuffer>(
      decode::ReadDsf, data, size, [](const dsp::DsdBuffer& dsd, std::size_t fileSize) {
        if (std::find(std::begin(dsp::kDsdRates), std::end(dsp::kDsdRates), dsd.dsdRate) ==
            std::end(dsp::kDsdRates)) {
          fuzz::Fail("DSF record rate");
        }
        if (dsd.length == 0 || dsd.length > fileSize) fuzz::Fail("DSF record length");
      });
  return 0;
}
