/* Runs a program (standard streams inherited) and prints the peak resident set size of that
 * process in KiB. A small C parent keeps the measurement clean: a child forked from a large
 * parent (Python) would report the parent's pages as its own peak until it execs. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: peak_rss program [args...]\n");
    return 2;
  }
  pid_t pid = fork();
  if (pid == 0) {
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status;
  struct rusage usage;
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 1;
  fprintf(stderr, "peak_rss_kib=%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
