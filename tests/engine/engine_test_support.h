#pragma once

// In-memory doubles for the engine's unit tests: an engine that records the header lines its
// adapter would emit, and streams over strings.

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/http_engine.h"

namespace engine_test {

// An input stream over a string that records the size of every read request.
class StringSource : public TStream {
 public:
  explicit StringSource(std::string data, std::vector<int>* requests = nullptr)
      : data_(std::move(data)), requests_(requests) {}
  int Read(void* buffer, int count) override {
    if (requests_ != nullptr) requests_->push_back(count);
    int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(count), data_.size() - pos_));
    std::copy_n(data_.data() + pos_, n, static_cast<char*>(buffer));
    pos_ += static_cast<size_t>(n);
    return n;
  }
  int Write(const void*, int) override { return -1; }
  int64_t Seek(int64_t, SeekOrigin) override { return -1; }

 private:
  std::string data_;
  size_t pos_ = 0;
  std::vector<int>* requests_;
};

// An output stream appending to a string that outlives the request, and recording the size of
// every write when asked to.
class StringSink : public TStream {
 public:
  explicit StringSink(std::string* out, std::vector<int>* writes = nullptr)
      : out_(out), writes_(writes) {}
  int Read(void*, int) override { return -1; }
  int Write(const void* buffer, int count) override {
    if (writes_ != nullptr) writes_->push_back(count);
    out_->append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    return count;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return -1; }

 private:
  std::string* out_;
  std::vector<int>* writes_;
};

// An adapter that writes its header lines, and the end of the block, into the answer.
class TTestEngine : public THttpEngine {
 public:
  void WriteServerHeader(const std::string& name, const std::string& value) override {
    std::string line = value.empty() ? name + "\r\n" : name + ": " + value + "\r\n";
    if (TStream* out = RequestContext().OutputStream.get()) out->WriteString(line);
  }
  void EndServerHeaders() override {
    if (TStream* out = RequestContext().OutputStream.get()) out->WriteString("\r\n");
  }

  // Runs one request with the given variables (NAME=value items) and body; returns the answer.
  // `writes`, when given, receives the size of every write to the answer stream.
  std::string Run(const std::vector<std::string>& variables, const std::string& body = "",
                  std::vector<int>* writes = nullptr) {
    auto list = std::make_unique<TStringList>(true);
    for (const std::string& item : variables) list->Add(item);
    std::string answer;
    ProcessRequest(std::make_unique<StringSource>(body),
                   std::make_unique<StringSink>(&answer, writes), std::move(list));
    return answer;
  }
};

// Points the engine log at a fresh folder for the test's lifetime.
class ScopedLogDir {
 public:
  ScopedLogDir() {
    dir_ = std::filesystem::temp_directory_path() /
           ("engine_unit_log_" + std::to_string(getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    setenv("CGI_LOG_DIR", dir_.c_str(), 1);
  }
  ~ScopedLogDir() {
    unsetenv("CGI_LOG_DIR");
    std::filesystem::remove_all(dir_);
  }
  const std::filesystem::path& Dir() const { return dir_; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
};

// The whole content of a file ("" when it cannot be read).
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Matches `text` against `pattern`, literal except for placeholders: {date} an HTTP date such
// as "Sun, 06 Dec 2026 11:25:43 GMT", {digits} one or more digits, {word} one or more bytes up
// to a blank or line end, {line} any bytes up to the next CR. (std::regex trips the sanitizer
// build's warnings.)
inline bool MatchesPattern(std::string_view text, std::string_view pattern) {
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t t = 0;
  size_t p = 0;
  while (p < pattern.size()) {
    if (pattern[p] != '{') {
      if (t >= text.size() || text[t] != pattern[p]) return false;
      ++t;
      ++p;
      continue;
    }
    size_t close = pattern.find('}', p);
    std::string_view kind = pattern.substr(p + 1, close - p - 1);
    p = close + 1;
    size_t start = t;
    if (kind == "date") {
      static const std::string_view kDays = "SunMonTueWedThuFriSat";
      static const std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
      std::string_view date = text.substr(t, 29);
      if (date.size() != 29 || kDays.find(date.substr(0, 3)) % 3 != 0 ||
          kMonths.find(date.substr(8, 3)) % 3 != 0 || date.substr(3, 2) != ", " ||
          date.substr(25) != " GMT") {
        return false;
      }
      for (size_t i : {5, 6, 12, 13, 14, 15, 17, 18, 20, 21, 23, 24}) {
        if (!is_digit(date[i])) return false;
      }
      t += 29;
    } else if (kind == "digits") {
      while (t < text.size() && is_digit(text[t])) ++t;
    } else if (kind == "word") {
      while (t < text.size() && text[t] != ' ' && text[t] != '\r' && text[t] != '\n') ++t;
    } else if (kind == "line") {
      while (t < text.size() && text[t] != '\r') ++t;
    }
    if (t == start && kind != "line") return false;
  }
  return t == text.size();
}

}  // namespace engine_test
