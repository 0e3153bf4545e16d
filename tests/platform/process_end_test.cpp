#include "platform/process_end.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

// The process end runs in a child, which reports through a pipe what its handlers did.
TEST(ProcessEndTest, RunsHandlersLastFirstFlushesAndExitsWithTheCode) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::fflush(nullptr);  // nothing of the parent may be flushed again by the child
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    int out = fds[1];
    AddProcessEndHandler([out] { (void)!write(out, "1", 1); });
    AddProcessEndHandler([] { throw std::runtime_error("ignored"); });
    AddProcessEndHandler([out] { (void)!write(out, "2", 1); });
    // Buffered standard output must not be lost.
    dup2(out, STDOUT_FILENO);
    std::printf("|buffered");
    EndProcess(7);
  }
  close(fds[1]);
  std::string seen;
  char buffer[64];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) seen.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_EQ(seen, "21|buffered");
}

}  // namespace
