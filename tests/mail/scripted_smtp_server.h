#pragma once

// A small SMTP peer with a script, for exact reply sequences a real server will not produce
// (a refused recipient, a multi-line greeting, silence, hanging up). It listens on 127.0.0.1 and
// a free port, serves connections one after another on its own thread, and records every byte
// it receives. The destructor stops it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brevix_test {

class ScriptedSmtpServer {
 public:
  // Reply to a command line (without CR LF): the bytes to send; kNoReply to stay silent;
  // kHangUp to close the connection.
  static constexpr const char* kNoReply = "";
  static constexpr const char* kHangUp = "<hang up>";

  // Sent on accepting a connection (kNoReply: nothing).
  std::string greeting = "220 scripted.test ready\r\n";
  // The reply to each command; the default accepts everything and answers QUIT with 221.
  std::function<std::string(const std::string& command)> on_command = DefaultReply;
  // The reply after the end of the data.
  std::string data_reply = "250 queued\r\n";
  // Hang up instead of answering the end of this message (0 is the first of all connections),
  // or (hang_up_after_reply) right after answering it; -1: never.
  std::atomic<int> hang_up_at_message{-1};
  bool hang_up_after_reply = false;
  // After answering DATA, read nothing more (with a small receive buffer), as a server that
  // stalls in the middle of a message.
  bool stall_in_data = false;

  static std::string DefaultReply(const std::string& command) {
    const std::string verb = command.substr(0, 4);
    if (verb == "DATA") return "354 go ahead\r\n";
    if (verb == "QUIT") return "221 bye\r\n";
    return "250 ok\r\n";
  }

  ScriptedSmtpServer() = default;
  ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
  ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;
  ~ScriptedSmtpServer() { Stop(); }

  // Starts listening. `listen_only`: accept nothing (connections wait in the backlog).
  void Start(bool listen_only = false) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (stall_in_data) {
      const int small = 4096;
      setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 8);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (!listen_only) thread_ = std::thread([this] { Serve(); });
  }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
  }

  std::string PortText() const { return std::to_string(port_); }

  // Every byte received so far, all connections in order.
  std::string Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  // The command lines received so far (data excluded).
  std::vector<std::string> Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  // The message bytes of each DATA, as received (still dot-stuffed), the final "." line
  // excluded.
  std::vector<std::string> Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  int Connections() const { return connections_; }
  // True once the client has closed the last connection.
  bool ClientClosed() const { return client_closed_; }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      ++connections_;
      client_closed_ = false;
      Converse(client);
      close(client);
    }
  }

  void Send(int client, const std::string& bytes) {
    if (!bytes.empty()) send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  void Converse(int client) {
    Send(client, greeting);
    std::string pending;
    bool in_data = false;
    while (!stop_) {
      pollfd p{client, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) {
        client_closed_ = true;
        return;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(buffer, static_cast<size_t>(n));
      }
      pending.append(buffer, static_cast<size_t>(n));
      for (;;) {
        if (in_data) {
          const size_t end = pending.find("\r\n.\r\n");
          if (end == std::string::npos) break;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back(pending.substr(2, end));
          }
          pending.erase(0, end + 5);
          in_data = false;
          if (messages_.size() == static_cast<size_t>(hang_up_at_message + 1)) {
            if (!hang_up_after_reply) return;
            Send(client, data_reply);
            return;
          }
          Send(client, data_reply);
          continue;
        }
        const size_t end = pending.find("\r\n");
        if (end == std::string::npos) break;
        const std::string command = pending.substr(0, end);
        pending.erase(0, end + 2);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          commands_.push_back(command);
        }
        const std::string reply = on_command(command);
        if (reply == kHangUp) return;
        Send(client, reply);
        if (reply.rfind("354", 0) == 0) in_data = true;
        if (in_data && stall_in_data) {
          while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
          return;
        }
        // A message that begins right at the data (no header) still ends with "\r\n.\r\n".
        if (in_data) pending.insert(0, "\r\n");
      }
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<bool> client_closed_{false};
  mutable std::mutex mutex_;
  std::string received_;
  std::vector<std::string> commands_;
  std::vector<std::string> messages_;
};

}  // namespace brevix_test
