#include "engine/adapters/win_cgi_profile.h"

#include <algorithm>
#include <cstdint>

#include "common/exception.h"
#include "common/text_compare.h"
#include "engine/http_utils.h"
#include "engine/url_codec.h"
#include "platform/file_io.h"
#include "platform/file_system.h"

namespace {

// The profile's lines, taken byte by byte as the web server wrote them: a line ends at CR.
class ProfileLines {
 public:
  explicit ProfileLines(int fd) : fd_(fd) {}

  // The next line ended by CR, at most kProfileLineLimit characters of it. False at the line
  // that runs into the end of the file: a profile's last line without CR is not used.
  bool Next(std::string& line) {
    line.clear();
    for (;;) {
      int c = Get();
      if (c < 0) return false;
      if (c == '\r') return true;
      if (line.size() < kProfileLineLimit) line += static_cast<char>(c);
    }
  }

 private:
  // The next byte, or -1 at the end of the file (a read error counts as the end).
  int Get() {
    if (pos_ == len_) {
      const long n = ReadSome(fd_, buffer_, sizeof buffer_);
      if (n <= 0) return -1;
      pos_ = 0;
      len_ = static_cast<size_t>(n);
    }
    return static_cast<unsigned char>(buffer_[pos_++]);
  }

  int fd_;
  char buffer_[8192];
  size_t pos_ = 0;
  size_t len_ = 0;
};

// The section name of a head line "[ name ]": trimmed, upper case, blanks as "_".
std::string SectionName(const std::string& line, size_t close) {
  return ReplaceChar(' ', '_', UpperCase(Trim(std::string_view(line).substr(1, close - 1))));
}

// Reads exactly the announced number of bytes of a [Form External] file, whose value is
// "<path> <count>". False when the value is malformed or the file cannot be read in full.
bool ReadExternalField(const std::string& value, std::string& content) {
  size_t blank = value.rfind(' ');
  if (blank == std::string::npos) return false;
  std::string path = AddDriveIfMissing(Trim(std::string_view(value).substr(0, blank)));
  std::string digits = value.substr(blank + 1);
  if (digits.empty() || digits.size() > 10) return false;
  uint64_t count = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    count = count * 10 + static_cast<uint64_t>(c - '0');
  }
  // Non-blocking, so that a name of a pipe cannot stall the request in open().
  const TFileDescriptor file = OpenFile(path, open_flags::kReadOnly | open_flags::kNonBlocking);
  if (!file) return false;
  const TFileInfo info = OpenFileInfo(file.Get());
  if (info.kind != TFileKind::kRegular) return false;
  // A file shorter than its count cannot be read in full: no need to try, nor to make room
  // for a count the file does not back.
  if (static_cast<uint64_t>(info.size) < count) return false;
  content.clear();
  content.reserve(static_cast<size_t>(count));
  char block[kExternalBlockSize];
  while (content.size() < count) {
    size_t want = std::min<uint64_t>(sizeof block, count - content.size());
    const long n = ReadSome(file.Get(), block, want);
    if (n <= 0) return false;  // the file shrank, or a read error
    content.append(block, static_cast<size_t>(n));
  }
  return true;
}

// What the sections of the profile add up to while it is read.
struct ProfileContent {
  std::unique_ptr<TStringList> variables = std::make_unique<TStringList>();
  std::string accept;       // the [Accept] keys at Yes, joined by ","
  bool has_buffer = false;  // a form field was seen
  std::string buffer;       // the url-encoded form fields, each ended by "&"

  // The name is encoded as well as the value: the web server wrote both decoded, and a name
  // holding "+", "%", "&" or a blank must come out of the field decoder as it went in.
  void AddFormField(const std::string& key, const std::string& value) {
    has_buffer = true;
    buffer += UrlEncode(key) + "=" + UrlEncode(value) + "&";
  }

  void Add(const std::string& section, const std::string& key, const std::string& value) {
    if (section == "CGI" || section == "SYSTEM" || section == "EXTRA_HEADERS") {
      variables->Add(ReplaceChar(' ', '_', key) + "=" + value);
    } else if (section == "ACCEPT") {
      if (UpperCase(value) != "YES") return;
      if (!accept.empty()) accept += ",";
      accept += key;
    } else if (section == "FORM_LITERAL") {
      AddFormField(key, value);
    } else if (section == "FORM_EXTERNAL") {
      std::string content;
      if (ReadExternalField(value, content)) AddFormField(key, content);
    }
  }
};

ProfileContent ReadSections(const std::string& path) {
  const TFileDescriptor profile = OpenFile(path, open_flags::kReadOnly | open_flags::kNonBlocking);
  if (!profile) {
    throw Exception("Cannot open the Windows CGI profile \"" + path + "\"");
  }
  ProfileContent content;
  ProfileLines lines(profile.Get());
  std::string section;
  std::string raw;
  while (lines.Next(raw)) {
    std::string line = TrimLeft(raw);
    size_t close = line.find(']');
    if (!line.empty() && line[0] == '[' && close != std::string::npos) {
      section = SectionName(line, close);
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trim(std::string_view(line).substr(0, equals));
    if (key.empty()) continue;
    content.Add(section, key, Trim(std::string_view(line).substr(equals + 1)));
  }
  if (!content.accept.empty()) content.variables->Add("HTTP_ACCEPT=" + content.accept);
  return content;
}

}  // namespace

TWinCGIProfileContent ReadWinCGIProfileContent(const std::string& path) {
  ProfileContent sections = ReadSections(path);
  TWinCGIProfileContent content;
  content.Variables = std::move(sections.variables);
  content.HasFormFields = sections.has_buffer;
  content.FormFields = std::move(sections.buffer);
  return content;
}

TWinCGIRequest ReadWinCGIProfile(const std::string& path) {
  TWinCGIProfileContent content = ReadWinCGIProfileContent(path);
  TWinCGIRequest request;
  request.Variables = std::move(content.Variables);
  request.OutputPath = AddDriveIfMissing(request.Variables->Values("OUTPUT_FILE"));
  if (request.OutputPath.empty()) {
    throw Exception("The Windows CGI profile \"" + path + "\" names no output file (OUTPUT_FILE)");
  }
  std::string content_file = request.Variables->Values("CONTENT_FILE");
  if (IsRegularFile(content_file)) {
    request.Input = std::make_unique<TFileStream>(content_file, TFileStream::kOpenRead);
  } else if (content.HasFormFields) {
    auto buffer = std::make_unique<TMemoryStream>();
    buffer->WriteString(content.FormFields);
    request.Input = std::move(buffer);
    // The body is now this encoding of the fields, not the one the browser sent, and its length
    // is another: the server's Content Length would cut it off or have it refused as cut short.
    request.Variables->SetValue("Content_Length", std::to_string(content.FormFields.size()));
  }
  // An output file that is already there (the web server may create it) is emptied first: what
  // it held before must not trail the answer the web server reads back.
  request.Output = std::make_unique<TFileStream>(request.OutputPath, TFileStream::kCreate);
  if (request.Input) request.Input->SetPosition(0);
  return request;
}
