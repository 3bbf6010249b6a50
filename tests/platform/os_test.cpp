#include "platform/os.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/path.h"
#include "platform/text.h"
#include "tests/support/audio_files.h"

namespace lumaro::platform {
namespace {

TEST(EventTest, AutoResetsAfterOneWait) {
  auto event = Event::Create();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
  event->Set();
  EXPECT_EQ(event->Wait(0), WaitResult::kSignalled);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
  event->Set();
  event->Reset();
  EXPECT_EQ(event->Wait(1), WaitResult::kTimeout);
  std::thread setter([&] { event->Set(); });  // wakes a waiter on another thread
  EXPECT_EQ(event->Wait(10000), WaitResult::kSignalled);
  setter.join();
}

TEST(OsTest, ReportsTheMachine) {
  EXPECT_GE(ProcessorCount(), 1U);
  std::uint64_t available = 0;
  EXPECT_TRUE(AvailablePhysicalMemory(&available));
  EXPECT_GT(available, 0U);
  const std::u16string dir = ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(ExecutablePath().substr(0, dir.size()), dir);
  EXPECT_EQ(PathFindFileName(ExecutablePath()), ProgramFileName(u"lumaro_platform_tests"));
}

using testing::TempDir;

TEST(FileTest, CreateWriteReadAndRefusals) {
  TempDir dir;
  const std::u16string name = dir.File(u"caf\u00E9.bin");
  {
    auto file = File::Open(name, OpenMode::kCreateNew);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("abcdef", 6), 6);
  }
  EXPECT_EQ(File::Open(name, OpenMode::kCreateNew), nullptr);  // exists
  FileAttributes attributes;
  ASSERT_TRUE(GetFileAttributes(name, &attributes));
  EXPECT_FALSE(attributes.directory);
  EXPECT_EQ(attributes.size, 6U);

  auto exclusive = File::Open(name, OpenMode::kReadExclusive);
  ASSERT_NE(exclusive, nullptr);
  EXPECT_EQ(File::Open(name, OpenMode::kReadExclusive), nullptr);  // held
  char buffer[8] = {};
  ASSERT_TRUE(exclusive->Seek(2));
  EXPECT_EQ(exclusive->Read(buffer, 8), 4);
  EXPECT_EQ(std::string(buffer, 4), "cdef");
  EXPECT_EQ(exclusive->Read(buffer, 8), 0);
  exclusive.reset();
  EXPECT_NE(File::Open(name, OpenMode::kReadExclusive), nullptr);

  EXPECT_EQ(File::Open(dir.Path(), OpenMode::kReadShared), nullptr);  // a directory
  EXPECT_EQ(File::Open(dir.File(u"missing"), OpenMode::kReadShared), nullptr);
  EXPECT_TRUE(DeleteFile(name));
  EXPECT_FALSE(PathFileExists(name));
  EXPECT_FALSE(DeleteFile(name));
  // The scan tests list real directories; a missing one lists nothing.
  std::vector<DirectoryEntry> entries(1);
  EXPECT_FALSE(ListDirectory(dir.File(u"none"), &entries));
  EXPECT_TRUE(entries.empty());
}

// A file whose full path has exactly 259 units, in directories and under a name of characters
// outside ASCII (surrogate pairs among them), is made, found, listed and read like any other.
TEST(FileTest, NonAsciiPathOfTheLongestLength) {
  const std::u16string kinds[] = {u"\u00E9", u"\u97F3", u"\U0001F3B5"};
  constexpr std::size_t kComponentUnits = 60;  // within every system's name limit in bytes
  for (const std::u16string& kind : kinds) {
    SCOPED_TRACE(Utf16ToUtf8(kind));
    TempDir dir;
    std::u16string path = dir.Path();
    std::u16string name;
    while (path.size() + 1 + kComponentUnits < kMaxPath - 1) {
      std::u16string component;
      while (component.size() + kind.size() <= kComponentUnits) component += kind;
      path += kPathSeparator + component;
      ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::path(path)));
    }
    while (path.size() + 1 + name.size() + kind.size() <= kMaxPath - 1) name += kind;
    name.resize(kMaxPath - 1 - path.size() - 1, u'x');
    const std::u16string directory = path;
    ASSERT_TRUE(PathAppend(path, name));
    ASSERT_EQ(path.size(), kMaxPath - 1);
    {
      auto file = File::Open(path, OpenMode::kCreateNew);
      ASSERT_NE(file, nullptr);
      EXPECT_EQ(file->Write("259", 3), 3);
    }
    FileAttributes attributes;
    ASSERT_TRUE(GetFileAttributes(path, &attributes));
    EXPECT_EQ(attributes.size, 3U);
    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(directory, &entries));
    ASSERT_EQ(entries.size(), 1U);
    EXPECT_EQ(entries[0].name, name);
    auto file = File::Open(path, OpenMode::kReadShared);
    ASSERT_NE(file, nullptr);
    char buffer[4] = {};
    EXPECT_EQ(file->Read(buffer, 4), 3);
    file.reset();
    EXPECT_TRUE(DeleteFile(path));
  }
}

}  // namespace
}  // namespace lumaro::platform
