#pragma once

// A real SMTP server for tests: Debian's aiosmtpd (tests/mail/smtp_capture_server.py) run with
// /usr/bin/python3 on 127.0.0.1 (or the address `options` names) and a free port, capturing every
// accepted message into a temporary folder. Start() launches it and waits for its port; the
// destructor stops it (SIGTERM, then SIGKILL) and removes the folder. Header-only so that any test
// executable can use it; it finds the script below BREVIX_SOURCE_DIR, or else beside this header's
// own folder.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace brevix_test {

// One message as the server received it.
struct CapturedMail {
  std::string raw;                      // the message bytes after DATA, dot-unstuffed
  std::string mail_from;                // the envelope sender
  std::vector<std::string> recipients;  // the envelope recipients, in order
};

class TestSmtpServer {
 public:
  TestSmtpServer() = default;
  TestSmtpServer(const TestSmtpServer&) = delete;
  TestSmtpServer& operator=(const TestSmtpServer&) = delete;
  ~TestSmtpServer() { Stop(); }

  // Extra arguments of the capture script (TLS, login, address), set before Start.
  std::vector<std::string> options;

  // Starts the server; throws std::runtime_error when it does not come up within 20 seconds.
  void Start() {
    const std::string script = ScriptPath();
    char folder_template[] = "/tmp/brevix-smtp-XXXXXX";
    if (!mkdtemp(folder_template)) throw std::runtime_error("mkdtemp failed");
    folder_ = folder_template;

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string python = "/usr/bin/python3";
    std::vector<char*> argv{const_cast<char*>(python.c_str()), const_cast<char*>(script.c_str()),
                            const_cast<char*>(folder_.c_str())};
    for (const std::string& option : options) argv.push_back(const_cast<char*>(option.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, python.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      pid_ = -1;
      throw std::runtime_error("cannot start " + python);
    }
    std::string line;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char buffer[64];
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
      Stop();
      throw std::runtime_error("the SMTP capture server did not start");
    }
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      pid_ = -1;
    }
    if (!folder_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(folder_, ignored);
      folder_.clear();
    }
  }

  int Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }

  // While held, the server answers no MAIL FROM: new transactions wait, those past it end.
  void Hold(bool held) const {
    if (held) {
      std::ofstream(folder_ + "/hold").put('\n');
    } else {
      std::remove((folder_ + "/hold").c_str());
    }
  }

  // Number of messages accepted so far.
  int MessageCount() const {
    int n = 0;
    while (std::filesystem::exists(folder_ + "/" + std::to_string(n + 1) + ".eml")) ++n;
    return n;
  }

  // Waits until `count` messages have arrived (or `timeout` has passed); returns the count.
  int WaitForMessages(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (MessageCount() < count && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return MessageCount();
  }

  // The reference numbers that messages 1..`count` carry ("Reference <N>" in the test sites'
  // templates); a message without one gives "<none>".
  std::set<std::string> ReferenceNumbers(int count) const {
    std::set<std::string> numbers;
    for (int i = 1; i <= count; ++i) {
      const std::string mail = Message(i).raw;
      const size_t open = mail.find("Reference <");
      const size_t close = open == std::string::npos ? open : mail.find('>', open);
      numbers.insert(close == std::string::npos ? "<none>"
                                                : mail.substr(open + 11, close - open - 11));
    }
    return numbers;
  }

  // Message number `n` (from 1).
  CapturedMail Message(int n) const {
    CapturedMail mail;
    const std::string base = folder_ + "/" + std::to_string(n);
    mail.raw = ReadFile(base + ".eml");
    std::istringstream envelope(ReadFile(base + ".env"));
    for (std::string line; std::getline(envelope, line);) {
      if (line.rfind("from ", 0) == 0) mail.mail_from = line.substr(5);
      if (line.rfind("to ", 0) == 0) mail.recipients.push_back(line.substr(3));
    }
    return mail;
  }

  // Every byte clients have sent, in order.
  std::string Dialogue() const { return ReadFile(folder_ + "/dialogue.log"); }

 private:
  // The capture script: below BREVIX_SOURCE_DIR when that is set, else next to this header's
  // own folder (tests/support/../mail/).
  static std::string ScriptPath() {
    const std::string relative = "/tests/mail/smtp_capture_server.py";
    if (const char* source = std::getenv("BREVIX_SOURCE_DIR")) {
      if (std::filesystem::exists(std::string(source) + relative)) return source + relative;
    }
    return std::filesystem::path(__FILE__).parent_path().parent_path().string() +
           relative.substr(6);
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  pid_t pid_ = -1;
  int port_ = 0;
  std::string folder_;
};

// A self-signed certificate and key for "localhost", 127.0.0.1 and ::1 (or `name`), written by
// the openssl command line into `folder` as cert.pem and key.pem. Throws when openssl fails.
inline void MakeTestCertificate(const std::string& folder, const std::string& name = "localhost") {
  std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 ";
  command += "-nodes -days 2 -keyout '";
  command += folder;
  command += "/key.pem' -out '";
  command += folder;
  command += "/cert.pem' -subj '/CN=";
  command += name;
  command += "' -addext 'subjectAltName=DNS:";
  command += name;
  if (name == "localhost") command += ",IP:127.0.0.1,IP:::1";
  command += "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl req failed");
}

}  // namespace brevix_test
