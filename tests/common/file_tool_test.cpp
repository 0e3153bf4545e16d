#include "common/file_tool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/temp_folder.h"

namespace {

class FileToolTest : public ::testing::Test {
 protected:
  TempFolder folder_;
};

TEST_F(FileToolTest, ReadsTheWholeFileByteForByte) {
  const std::string content = std::string("line 1\r\nline 2\n") + '\0' + "after zero\xff";
  const std::string file = folder_.Write("t.txt", content);
  EXPECT_EQ(FileSizeOf(file), static_cast<std::int64_t>(content.size()));
  const TPChar buffer = ReadFileToPChar(file);
  EXPECT_FALSE(buffer.IsNull());
  EXPECT_EQ(buffer.Text(), content);
}

TEST_F(FileToolTest, ReadsFilesLargerThanOneChunk) {
  std::string content;
  for (int i = 0; content.size() < 200000; ++i) content += std::to_string(i) + ",";
  const std::string file = folder_.Write("big.txt", content);
  EXPECT_EQ(ReadFileToPChar(file).Text(), content);
}

TEST_F(FileToolTest, NothingToReadGivesNullAndSizeZero) {
  const std::string empty = folder_.Write("empty.txt", "");
  std::filesystem::create_directory(folder_.File("dir"));
  const std::string fifo = folder_.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  // A named pipe without a writer would block an ordinary open; it must be turned away.
  for (const std::string& name :
       {empty, folder_.File("missing.txt"), folder_.File("dir"), fifo, std::string()}) {
    EXPECT_EQ(FileSizeOf(name), 0) << name;
    EXPECT_TRUE(ReadFileToPChar(name).IsNull()) << name;
  }
}

}  // namespace
