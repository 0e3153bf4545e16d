#pragma once

// A throw-away PostgreSQL cluster for the tests: initdb into a temporary folder, the server on a
// private socket folder only (no TCP port), started and stopped by the test. Debian's server
// binaries (package postgresql) are found under /usr/lib/postgresql/<version>/bin; Found() is
// false without them and the test skips. initdb refuses root, so under root the cluster belongs
// to "nobody" and the programs run as that user.

#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace brevix_test {

class PgCluster {
 public:
  PgCluster() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
      const std::string bin = entry.path().string() + "/bin/";
      if (std::filesystem::exists(bin + "initdb") && bin > bin_) bin_ = bin;
    }
  }
  ~PgCluster() {
    if (started_) Stop();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  bool Found() const { return !bin_.empty() && ::access("/usr/bin/psql", X_OK) == 0; }

  // Creates the cluster and starts it; false when a step failed.
  bool Create() {
    char pattern[] = "/tmp/brevix-pg-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return false;
    dir_ = pattern;
    if (::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (nobody == nullptr) return false;
      uid_ = nobody->pw_uid;
      gid_ = nobody->pw_gid;
      if (::chown(dir_.c_str(), uid_, gid_) != 0) return false;
    }
    return Run({bin_ + "initdb", "-D", dir_ + "/data", "-A", "trust", "-U", "brevix", "-E", "UTF8",
                "--locale=C", "--no-sync"}) &&
           Start();
  }

  bool Start() {
    started_ =
        Run({bin_ + "pg_ctl", "-D", dir_ + "/data", "-l", dir_ + "/server.log", "-w", "-s", "-o",
             "-k " + dir_ + " -c listen_addresses= -F -c max_connections=120", "start"});
    return started_;
  }
  bool Stop() {
    started_ = false;
    return Run({bin_ + "pg_ctl", "-D", dir_ + "/data", "-m", "fast", "-w", "-s", "stop"});
  }

  // Holds (SIGSTOP) or releases (SIGCONT) the server's main process: it then takes connections
  // into its socket's queue and answers none of them.
  bool Hold(bool hold) const {
    std::ifstream pid_file(dir_ + "/data/postmaster.pid");
    pid_t pid = 0;
    return (pid_file >> pid) && pid > 0 && ::kill(pid, hold ? SIGSTOP : SIGCONT) == 0;
  }

  // The Database setting that reaches the cluster.
  std::string ConnInfo() const { return "host=" + dir_ + " dbname=postgres user=brevix"; }

  // The rows of `sql` through psql, one a line, columns split by "|"; empty on failure.
  std::string Query(const std::string& sql) const {
    const std::string command = "psql -X -q -A -t -d '" + ConnInfo() + "' -c \"" + sql + "\" 2>&1";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[4096];
      size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
      ::pclose(pipe);
    }
    return out;
  }

 private:
  bool Run(const std::vector<std::string>& argv) const {
    const pid_t pid = ::fork();
    if (pid == 0) {
      // initdb and pg_ctl narrate every step; the server's own log goes to server.log.
      if (FILE* null = std::fopen("/dev/null", "w")) ::dup2(::fileno(null), 1);
      if (uid_ != 0 && (::setgid(gid_) != 0 || ::setuid(uid_) != 0)) ::_exit(126);
      // The tools run from the cluster's folder: the test's own folder may be one the server's
      // user cannot enter (a checkout below /root), and pg_ctl then fails to restart it.
      if (::chdir(dir_.c_str()) != 0) ::_exit(126);
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }

  std::string bin_;
  std::string dir_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  bool started_ = false;
};

}  // namespace brevix_test
