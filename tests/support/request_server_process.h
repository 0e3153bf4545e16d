#pragma once

// A resident request server for process-level tests: started as a program started with no CGI
// environment (or found through the marker of a server that a forwarder started), and always
// stopped again. The test process makes itself the reaper of orphaned descendants, so that a
// server started by a forwarder that has ended can be waited for as well.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace cgi_test {

class RequestServerProcess {
 public:
  // `program`: the full path of the program copy whose folder holds the spool (Temp/).
  explicit RequestServerProcess(std::string program) : program_(std::move(program)) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
  }
  ~RequestServerProcess() { Stop(); }
  RequestServerProcess(const RequestServerProcess&) = delete;
  RequestServerProcess& operator=(const RequestServerProcess&) = delete;

  std::string SpoolDir() const { return program_.substr(0, program_.rfind('/') + 1) + "Temp/"; }
  std::string SpoolBase() const {
    return SpoolDir() + program_.substr(program_.rfind('/') + 1) + "_";
  }
  std::string Marker() const { return SpoolBase() + "s"; }

  // Starts the program with exactly `env` and `args`, standard handles on /dev/null, and waits
  // until its marker names it (20 s at most). False when it did not come up.
  bool Start(const std::map<std::string, std::string>& env,
             const std::vector<std::string>& args = {}) {
    std::vector<std::string> env_strings;
    for (const auto& [name, value] : env) env_strings.push_back(name + "=" + value);
    if (const char* tsan = std::getenv("TSAN_OPTIONS");
        tsan != nullptr && !env.count("TSAN_OPTIONS")) {
      env_strings.push_back(std::string("TSAN_OPTIONS=") + tsan);
    }
    std::vector<char*> envp;
    for (std::string& entry : env_strings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> arg_strings{program_};
    arg_strings.insert(arg_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : arg_strings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      const int null = open("/dev/null", O_RDWR);
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      execve(program_.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    started_ = pid;
    return WaitForMarkerPid(pid);
  }

  // Waits until the marker holds `pid` (any process id when 0); 20 s at most.
  bool WaitForMarkerPid(pid_t pid = 0) const {
    for (int round = 0; round < 2000; ++round) {
      const pid_t named = PidFromMarker();
      if (named > 0 && (pid == 0 || named == pid)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  pid_t PidFromMarker() const {
    std::ifstream in(Marker());
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
  }

  // True once `pid` has ended (reaped here when it is a child or an orphan of this process),
  // within `limit`.
  static bool WaitUntilGone(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      int status = 0;
      const pid_t reaped = waitpid(pid, &status, WNOHANG);
      if (reaped == pid) return true;
      if (reaped < 0 && kill(pid, 0) != 0) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Stops the server this object started and the one the marker names: SIGTERM, then SIGKILL
  // when it has not ended within 10 s.
  void Stop() {
    for (pid_t pid : {PidFromMarker(), started_}) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      if (!WaitUntilGone(pid, std::chrono::seconds(10))) {
        kill(pid, SIGKILL);
        WaitUntilGone(pid, std::chrono::seconds(10));
      }
    }
    started_ = 0;
  }

  pid_t Started() const { return started_; }

 private:
  std::string program_;
  pid_t started_ = 0;
};

}  // namespace cgi_test
