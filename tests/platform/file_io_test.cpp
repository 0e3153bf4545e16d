#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "common/temp_folder.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"

namespace {

using namespace open_flags;

enum class Start { kMissing, kFile, kLink };

struct OpenCase {
  const char* name;
  Start start;
  unsigned flags;
  int error;             // 0: opens
  const char* contents;  // of "f" after writing "d" (when writable) and closing
};

class OpenFileTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenFileTest, FlagsDecideWhatOpensAndWhatTheFileHolds) {
  const OpenCase& c = GetParam();
  TempFolder folder;
  if (c.start != Start::kMissing) folder.Write("f", "abc");
  const std::string path = c.start == Start::kLink ? folder.File("l") : folder.File("f");
  if (c.start == Start::kLink) std::filesystem::create_symlink(folder.File("f"), path);
  const mode_t mask = umask(022);
  TFileDescriptor file = OpenFile(path, c.flags, 0640);
  const int error = file ? 0 : errno;
  umask(mask);
  EXPECT_EQ(error, c.error);
  if (!file) return;
  if (c.flags & (kWriteOnly | kReadWrite)) {
    EXPECT_TRUE(WriteAll(file.Get(), "d"));
  }
  EXPECT_TRUE(CloseFile(file.Release()));
  EXPECT_EQ(folder.Read("f"), c.contents);
  if (c.start == Start::kMissing) {
    EXPECT_EQ(FileInfoOf(path).mode, 0640u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Flags, OpenFileTest,
    ::testing::Values(OpenCase{"ReadMissing", Start::kMissing, kReadOnly, ENOENT, ""},
                      OpenCase{"CreateMissing", Start::kMissing, kWriteOnly | kCreate, 0, "d"},
                      OpenCase{"CreateExclusiveExisting", Start::kFile,
                               kWriteOnly | kCreate | kExclusive, EEXIST, ""},
                      OpenCase{"WriteOverwritesFromTheStart", Start::kFile, kWriteOnly, 0, "dbc"},
                      OpenCase{"Truncate", Start::kFile, kReadWrite | kTruncate, 0, "d"},
                      OpenCase{"Append", Start::kFile, kWriteOnly | kAppend, 0, "abcd"},
                      OpenCase{"ThroughLink", Start::kLink, kReadOnly, 0, "abc"},
                      OpenCase{"NoFollowRefusesLink", Start::kLink, kReadOnly | kNoFollow, ELOOP,
                               ""}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(FileInfoTest, LinkInfoSeesTheLinkAndFileInfoItsTarget) {
  TempFolder folder;
  folder.Write("b", "12345");
  std::filesystem::create_symlink(folder.File("b"), folder.File("a"));
  EXPECT_EQ(FileInfoOf(folder.File("a")).kind, TFileKind::kRegular);
  EXPECT_EQ(FileInfoOf(folder.File("a")).size, 5);
  EXPECT_EQ(LinkInfoOf(folder.File("a")).kind, TFileKind::kLink);
  EXPECT_FALSE(LinkInfoOf(folder.File("c")).Exists());
  EXPECT_EQ(FolderNames(folder.File("")), (std::vector<std::string>{"a", "b"}));
}

TEST(CreateFileWholeTest, NameAppearsWithItsBytesAndNeverReplacesAFile) {
  TempFolder folder;
  ASSERT_TRUE(CreateFileWhole(folder.File("mark"), "order=7", 0600));
  EXPECT_EQ(FileInfoOf(folder.File("mark")).size, 7);
  EXPECT_EQ(FileInfoOf(folder.File("mark")).mode, 0600u);
  EXPECT_FALSE(CreateFileWhole(folder.File("mark"), "order=8", 0600));
  EXPECT_EQ(FileInfoOf(folder.File("mark")).size, 7);
  EXPECT_EQ(FolderNames(folder.File("")), (std::vector<std::string>{"mark"}));
}

// Two opens of one file in one process stand for a forwarder and the server that took its
// request: the locks must tell them apart although they share the process.
TEST(FileLockTest, LocksBelongToTheOpenFileNotToTheProcess) {
  TempFolder folder;
  const std::string path = folder.Write("r", "x");
  const TFileDescriptor first = OpenFile(path, kReadOnly);
  const TFileDescriptor second = OpenFile(path, kReadOnly);
  EXPECT_TRUE(TryLockFile(first.Get(), TLockKind::kShared));
  EXPECT_TRUE(TryLockFile(second.Get(), TLockKind::kShared));
  const TFileDescriptor third = OpenFile(path, kReadOnly);
  EXPECT_FALSE(TryLockFile(third.Get(), TLockKind::kExclusive));
  EXPECT_EQ(errno, EWOULDBLOCK);

  EXPECT_FALSE(RecordLockHeldElsewhere(second.Get()));
  ASSERT_TRUE(PlaceReadRecordLock(first.Get()));
  EXPECT_TRUE(RecordLockHeldElsewhere(second.Get()));
  EXPECT_FALSE(RecordLockHeldElsewhere(first.Get()));
}

}  // namespace
