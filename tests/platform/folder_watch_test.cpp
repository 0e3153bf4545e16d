#include "platform/folder_watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "common/temp_folder.h"
#include "platform/file_io.h"

namespace {

using std::chrono::milliseconds;

// A pipe whose read end a watch waits on.
struct Pipe {
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    close(fds[0]);
    close(fds[1]);
  }
  int fds[2] = {-1, -1};
};

TEST(FolderWatchTest, WakesForAChangeInTheFolderAndTellsAnExtraDescriptorApart) {
  TempFolder folder;
  Pipe wake;
  TFolderWatch watch(folder.File(""));
  ASSERT_TRUE(watch.Watching());
  watch.AddDescriptor(wake.fds[0]);
  const TMonotonicTime start = MonotonicNow();

  std::thread writer([&] {
    std::this_thread::sleep_for(milliseconds(50));
    folder.Write("new", "x");
  });
  EXPECT_FALSE(watch.Wait(start + std::chrono::seconds(10)));
  writer.join();
  EXPECT_LT(MonotonicNow() - start, std::chrono::seconds(5));

  EXPECT_EQ(WaitReadable(wake.fds[0], 0), 0);
  ASSERT_EQ(WriteSome(wake.fds[1], "w", 1), 1);
  EXPECT_EQ(WaitReadable(wake.fds[0], 0), 1);
  EXPECT_TRUE(watch.Wait(MonotonicNow() + std::chrono::seconds(10)));
}

TEST(FolderWatchTest, WaitEndsAtTheDeadlineWhenNothingHappens) {
  TempFolder folder;
  TFolderWatch watch(folder.File(""));
  const TMonotonicTime deadline = MonotonicNow() + milliseconds(100);
  EXPECT_FALSE(watch.Wait(deadline));
  EXPECT_GE(MonotonicNow(), deadline);
}

}  // namespace
