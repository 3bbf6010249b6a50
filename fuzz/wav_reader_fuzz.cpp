// ReadWav on arbitrary bytes: a record it answers holds 1 or 2 channels of a supported width and
// no more sample bytes than the file had.
#include "decode/wav_reader.h"
#include "fuzz/read_file_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumaro;
  fuzz::ReadFromMemory<dsp::PcmBuffer>(decode::ReadWav, data, size,
                                       [](const dsp::PcmBuffer& pcm, std::size_t fileSize) {
                                         if (pcm.channels != 1 && pcm.channels != 2)
                                           fuzz::Fail("WAV record channel count");
                                         if (pcm.bits % 8 != 0 || pcm.bits == 0 || pcm.bits > 64)
                                           fuzz::Fail("WAV record width");
                                         if (pcm.frameCount == 0 || pcm.DataSize() > fileSize)
                                           fuzz::Fail("WAV record size");
                                         if (pcm.sampleRate < dsp::kMinSampleRate)
                                           fuzz::Fail("WAV record rate");
                                       });
  return 0;
}
