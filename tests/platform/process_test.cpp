#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io.h"

namespace {

// A detached process must not keep a pipe of ours open (a web server would wait for its end),
// must leave our session, and must end when killed, which its handle reports.
TEST(ProcessTest, DetachedProcessHoldsNoDescriptorOfOursAndEndsWhenKilled) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);  // inheritable on purpose
  TProcessId pid = 0;
  ASSERT_EQ(StartDetachedProcess("/bin/sleep", {"sleep", "30"}, {}, &pid), 0);
  close(fds[1]);
  char byte = 0;
  EXPECT_EQ(WaitReadable(fds[0], 5000), 1);
  EXPECT_EQ(ReadSome(fds[0], &byte, 1), 0);
  close(fds[0]);
  EXPECT_EQ(getsid(pid), pid);

  const TFileDescriptor handle = OpenProcessHandle(pid);
  ASSERT_TRUE(handle);
  EXPECT_EQ(WaitReadable(handle.Get(), 0), 0);
  EXPECT_TRUE(KillOtherProcess(pid));
  EXPECT_EQ(WaitReadable(handle.Get(), 5000), 1);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST(ProcessTest, RefusesAMissingProgramAndIdsThatNameNoSingleProcess) {
  EXPECT_EQ(StartDetachedProcess("/nonexistent/program", {"program"}, {}), ENOENT);
  EXPECT_FALSE(KillOtherProcess(0));
  EXPECT_FALSE(OpenProcessHandle(0));
}

}  // namespace
