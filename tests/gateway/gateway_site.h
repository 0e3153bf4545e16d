#pragma once

// A throw-away program folder for process-level tests of the gateway: a copy of brevix.cgi (its
// program directory is the folder of its own file), a brevix.ini and whatever templates and pages
// a test writes, and a real SMTP server on 127.0.0.1. Requests run the program as a CGI program.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/url_codec.h"
#include "support/cgi_process.h"
#include "support/smtp_server.h"

namespace gateway_test {

namespace fs = std::filesystem;

using Fields = std::vector<std::pair<std::string, std::string>>;

// A url-encoded form body of `fields`, encoded as the gateway encodes.
inline std::string FormBody(const Fields& fields) {
  std::string body;
  for (const auto& [name, value] : fields) {
    if (!body.empty()) body += '&';
    body += UrlEncode(name) + "=" + UrlEncode(value);
  }
  return body;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// One uploaded file of a multipart request.
struct Upload {
  std::string field;
  std::string client_name;
  std::string content;
};

class GatewaySite : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevix-gateway-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    fs::copy_file(cgi_test::BinDir() + "brevix.cgi", dir_ + "brevix.cgi");
    smtp_.Start();
    ini_ = {{"SMTP_Server", "127.0.0.1"},   {"SMTP_Port", smtp_.PortText()},
            {"Mail_To", "owner@site.test"}, {"Mail_Subject", "Form mail"},
            {"Date_Format", "yyyy-mm-dd"},  {"Time_Format", "hh:nn:ss"}};
  }

  void TearDown() override {
    smtp_.Stop();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Writes brevix.ini from ini_ (CR LF lines, as the wizard writes it); with without_ini_ the
  // site has none.
  void WriteIni() const {
    if (without_ini_) {
      std::error_code ignored;
      fs::remove(dir_ + "brevix.ini", ignored);
      return;
    }
    std::string text = "[Options]\r\n";
    for (const auto& [key, value] : ini_) text += key + "=" + value + "\r\n";
    WriteFile("brevix.ini", text);
  }

  void WriteFile(const std::string& name, const std::string& content) const {
    fs::create_directories(fs::path(dir_ + name).parent_path());
    std::ofstream(dir_ + name, std::ios::binary) << content;
  }
  std::string FileText(const std::string& name) const { return ReadText(dir_ + name); }
  bool Exists(const std::string& name) const { return fs::exists(dir_ + name); }
  std::string ErrorLog() const { return FileText("brevix-error.txt"); }

  std::map<std::string, std::string> Environment(const std::string& method) const {
    auto env = cgi_test::CgiEnvironment(method);
    env["SCRIPT_NAME"] = "/cgi-bin/brevix.cgi";
    env["HTTP_REFERER"] = referer_;
    env["REMOTE_ADDR"] = remote_addr_;
    if (referer_.empty()) env.erase("HTTP_REFERER");
    for (const auto& [name, value] : headers_) env[name] = value;
    return env;
  }

  // Posts url-encoded fields; writes brevix.ini first.
  cgi_test::CgiResult Post(const Fields& fields) const {
    WriteIni();
    return cgi_test::RunCgi(PostRun(FormBody(fields)));
  }

  // A POST of `body` to the program in `folder` (the site's by default), ready to run; brevix.ini
  // is not written.
  cgi_test::CgiRun PostRun(const std::string& body,
                           const std::string& content_type = "application/x-www-form-urlencoded",
                           const std::string& folder = "") const {
    cgi_test::CgiRun run;
    run.program = (folder.empty() ? dir_ : folder) + "brevix.cgi";
    run.env = Environment("POST");
    run.env["CONTENT_TYPE"] = content_type;
    run.env["CONTENT_LENGTH"] = std::to_string(body.size());
    run.input = body;
    return run;
  }

  // Posts `body` as Content-Type `content_type` (a script's JSON, say); writes brevix.ini first.
  cgi_test::CgiResult PostBody(const std::string& body,
                               const std::string& content_type = "application/json") const {
    WriteIni();
    return cgi_test::RunCgi(PostRun(body, content_type));
  }

  // Posts multipart/form-data with text fields and files; writes brevix.ini first.
  cgi_test::CgiResult PostMultipart(const Fields& fields, const std::vector<Upload>& files) const {
    WriteIni();
    const std::string boundary = "----brevixtestboundary42";
    std::string body;
    for (const auto& [name, value] : fields) {
      body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
              "\"\r\n\r\n" + value + "\r\n";
    }
    for (const Upload& file : files) {
      body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + file.field +
              "\"; filename=\"" + file.client_name +
              "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + file.content + "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return cgi_test::RunCgi(PostRun(body, "multipart/form-data; boundary=" + boundary));
  }

  // The answer's body (after the empty line that ends the headers).
  static std::string Body(const cgi_test::CgiResult& result) {
    const size_t end = result.output.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : result.output.substr(end + 4);
  }

  // The message text of mail number n (from 1), headers included.
  std::string Mail(int n) {
    smtp_.WaitForMessages(n);
    return smtp_.Message(n).raw;
  }

  std::string dir_;
  std::map<std::string, std::string> ini_;
  bool without_ini_ = false;
  std::string referer_ = "http://site.test/form.html";
  std::string remote_addr_ = "127.0.0.1";
  // Further CGI variables of every request: request headers such as HTTP_ACCEPT, HTTP_ORIGIN.
  std::map<std::string, std::string> headers_;
  brevix_test::TestSmtpServer smtp_;
};

}  // namespace gateway_test
