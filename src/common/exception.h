#pragma once

#include <exception>
#include <string>

// The one general exception class of both programs. A failure inside a request is raised as an
// Exception carrying the message the user or the log should see; the request driver and the
// engine catch it by this class. Socket and SMTP failures are not exceptions (they return false
// and keep a last-error text).
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};
