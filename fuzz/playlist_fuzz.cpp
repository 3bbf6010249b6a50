// ReadPlaylistInto on an arbitrary ".m3u8" file in a directory holding a few files and a
// subdirectory (so lines can name entries relative to the list): a list it answers holds only
// entries that exist; a failed read answers no list.
#include <filesystem>
#include <memory>

#include "app/read_playlist.h"
#include "fuzz/fuzz_support.h"
#include "platform/os.h"
#include "platform/text.h"

namespace {

struct ListDir {
  lumaro::fuzz::ScratchDir dir;
  ListDir() {
    dir.Write(u"a.wav", "RIFF", 4);
    dir.Write(u"b b.dsf", "DSD ", 4);
    std::filesystem::create_directory(lumaro::platform::Utf16ToUtf8(dir.File(u"sub")));
    dir.Write(u"sub/c.flac", "fLaC", 4);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumaro;
  static const ListDir listDir;
  const std::u16string path = listDir.dir.Write(u"list.m3u8", data, size);
  const platform::StopWord stop;
  std::unique_ptr<context::StringList> list;
  if (app::ReadPlaylistInto(path, stop, &list) != kOk) {
    if (list) fuzz::Fail("a failed read answered a list");
    return 0;
  }
  if (!list) fuzz::Fail("a read that succeeded answered no list");
  for (std::int32_t i = 0; i < list->Count(); ++i) {
    platform::FileAttributes attributes;
    if (!platform::GetFileAttributes(*list->Entry(i), &attributes)) {
      fuzz::Fail("a list entry names nothing");
    }
  }
  return 0;
}
