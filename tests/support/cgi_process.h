#pragma once

// Runs a program the way a web server runs a CGI program: a fresh environment, the request body
// on standard input, the answer captured from standard output, the exit code collected. Used by
// the process-level tests of the engine and of the gateway.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace cgi_test {

struct CgiRun {
  std::string program;                       // full path of the executable
  std::vector<std::string> args;             // parameters behind the program name
  std::map<std::string, std::string> env;    // the whole environment (nothing is inherited)
  std::string input;                         // written to standard input
  bool close_input = true;                   // false: keep standard input open (a stalled client)
  std::chrono::milliseconds timeout{20000};  // the program is killed after this long
  std::chrono::milliseconds drip{0};  // > 0: input written one byte at a time, this far apart
  size_t drip_from = 0;               // bytes of input written at once before the drip starts
};

struct CgiResult {
  int exit_code = -1;      // -1 when killed by a signal or on time-out
  bool timed_out = false;  // killed after CgiRun::timeout
  std::string output;      // standard output
  std::string error;       // standard error
  std::chrono::milliseconds elapsed{0};
};

// The usual environment of a GET or POST to the program behind a web server.
inline std::map<std::string, std::string> CgiEnvironment(const std::string& method,
                                                         const std::string& query = "") {
  return {{"SERVER_SOFTWARE", "lighttpd/1.4"},
          {"GATEWAY_INTERFACE", "CGI/1.1"},
          {"SERVER_PROTOCOL", "HTTP/1.1"},
          {"REQUEST_METHOD", method},
          {"QUERY_STRING", query},
          {"SCRIPT_NAME", "/cgi-bin/test.cgi"},
          {"REMOTE_ADDR", "127.0.0.1"},
          {"PATH", "/usr/bin:/bin"}};
}

// Starts the program, feeds it, collects everything. Throws std::runtime_error only when the
// process cannot be started at all.
inline CgiResult RunCgi(const CgiRun& run) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
      pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> env_strings;
  for (const auto& [name, value] : run.env) env_strings.push_back(name + "=" + value);
  // The ThreadSanitizer build's settings reach the programs too (where reports go).
  if (const char* tsan = std::getenv("TSAN_OPTIONS");
      tsan != nullptr && !run.env.count("TSAN_OPTIONS")) {
    env_strings.push_back(std::string("TSAN_OPTIONS=") + tsan);
  }
  std::vector<char*> envp;
  for (std::string& entry : env_strings) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> arg_strings{run.program};
  arg_strings.insert(arg_strings.end(), run.args.begin(), run.args.end());
  std::vector<char*> argv;
  for (std::string& arg : arg_strings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  auto started = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in_pipe[0], STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    execve(run.program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  signal(SIGPIPE, SIG_IGN);

  CgiResult result;
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (run.input.empty() && run.close_input) {
    close(in_fd);
    in_fd = -1;
  }
  int out_fd = out_pipe[0];
  int err_fd = err_pipe[0];
  auto deadline = started + run.timeout;
  auto next_drip = started;
  while (out_fd >= 0 || err_fd >= 0) {
    const auto now = std::chrono::steady_clock::now();
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[3];
    int count = 0;
    bool want_write = in_fd >= 0 && written < run.input.size();
    const bool dripping = run.drip.count() > 0 && written >= run.drip_from;
    if (want_write && dripping && now < next_drip) {
      // Wake for the next byte of a dripping client.
      want_write = false;
      left = std::min(left, std::chrono::duration_cast<std::chrono::milliseconds>(
                                next_drip - now + std::chrono::milliseconds(1)));
    }
    if (want_write) fds[count++] = {in_fd, POLLOUT, 0};
    if (out_fd >= 0) fds[count++] = {out_fd, POLLIN, 0};
    if (err_fd >= 0) fds[count++] = {err_fd, POLLIN, 0};
    if (poll(fds, count, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_fd) {
        const size_t size =
            dripping ? 1 : (run.drip.count() > 0 ? run.drip_from : run.input.size()) - written;
        ssize_t n = write(in_fd, run.input.data() + written, size);
        next_drip = std::chrono::steady_clock::now() + run.drip;
        if (n > 0) written += static_cast<size_t>(n);
        if (n < 0 || written == run.input.size()) {
          if (n < 0 || run.close_input) {
            close(in_fd);
            in_fd = -1;
          }
        }
        continue;
      }
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      std::string& sink = fds[i].fd == out_fd ? result.output : result.error;
      if (n > 0) {
        sink.append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        (fds[i].fd == out_fd ? out_fd : err_fd) = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  if (out_fd >= 0) close(out_fd);
  if (err_fd >= 0) close(err_fd);
  int status = 0;
  waitpid(pid, &status, 0);
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

// The folder of the built programs (CTest sets BREVIX_BIN_DIR).
inline std::string BinDir() {
  const char* dir = std::getenv("BREVIX_BIN_DIR");
  return dir != nullptr ? std::string(dir) + "/" : std::string("./");
}

}  // namespace cgi_test
