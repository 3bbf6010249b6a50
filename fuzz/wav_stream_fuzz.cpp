// The converting program's output stream on arbitrary bytes: ParseFloatWavStream must answer the
// same over the bytes in one block and collected in a PagedBuffer (as the FFmpeg reader collects
// them), the samples it points at must lie inside the stream, and CopyFloatFrames must then
// build a record of exactly those frames with every value finite.
#include <cmath>
#include <cstring>

#include "decode/child_run.h"
#include "decode/wav_stream.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumaro;
  decode::SpanBytes span({data, size});
  decode::FloatWavStream fromSpan;
  const Result spanResult = decode::ParseFloatWavStream(span, &fromSpan);

  const std::unique_ptr<dsp::PagedBuffer> store = dsp::PagedBuffer::Create();
  if (!store || store->Append(data, size) != size) fuzz::Fail("PagedBuffer refused the input");
  decode::PagedBytes paged(*store);
  decode::FloatWavStream fromPages;
  const Result pagedResult = decode::ParseFloatWavStream(paged, &fromPages);

  if ((spanResult == kOk) != (pagedResult == kOk)) fuzz::Fail("block and pages disagree");
  if (spanResult != kOk) return 0;
  if (fromSpan.sampleRate != fromPages.sampleRate || fromSpan.dataOffset != fromPages.dataOffset ||
      fromSpan.frames != fromPages.frames) {
    fuzz::Fail("block and pages answer different streams");
  }
  if (fromSpan.frames == 0 || fromSpan.dataOffset > size ||
      fromSpan.frames > (size - fromSpan.dataOffset) / 16) {
    fuzz::Fail("stream samples outside the bytes");
  }

  dsp::BufferSlot slot;
  if (decode::CopyFloatFrames(*store, fromSpan.dataOffset, fromSpan.frames, fromSpan.sampleRate,
                              slot) != kOk) {
    return 0;  // the memory guard may refuse; the slot is then empty
  }
  const dsp::AudioBuffer* audio = slot.Get<dsp::AudioBuffer>();
  if (audio == nullptr || audio->frameCount != fromSpan.frames ||
      audio->sampleRate != fromSpan.sampleRate) {
    fuzz::Fail("copied record does not match the stream");
  }
  for (std::uint64_t i = 0; i < 2 * audio->frameCount; ++i) {
    double expected = 0.0;
    std::memcpy(&expected, data + fromSpan.dataOffset + i * sizeof expected, sizeof expected);
    if (!std::isfinite(expected)) expected = 0.0;
    const double got = audio->Frame(0)[i];
    if (std::memcmp(&got, &expected, sizeof got) != 0) fuzz::Fail("copied sample differs");
  }
  return 0;
}
