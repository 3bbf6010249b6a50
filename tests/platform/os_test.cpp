#include "platform/os.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace lumaro::platform
