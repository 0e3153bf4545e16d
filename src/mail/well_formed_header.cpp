#include "mail/well_formed_header.h"

#include <climits>
#include <optional>
#include <vector>

#include "common/date_time_format.h"
#include "common/number_text.h"
#include "common/random_draw.h"
#include "common/text_compare.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/process.h"
#include "platform/system_random.h"

namespace {

struct Field {
  std::string name;   // upper case, without the colon
  std::string text;   // every line of the field, each ended by CR LF
  bool empty = true;  // no visible character after the colon
};

// The field name of a header line, upper case; nullopt for a line that is no field.
std::optional<std::string> FieldName(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string name = TrimRight(line.substr(0, colon));
  if (name.empty()) return std::nullopt;
  for (char c : name) {
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) > 126)
      return std::nullopt;
  }
  return UpperCase(name);
}

bool HasVisibleText(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return true;
  }
  return false;
}

// `line` (without its line end) as a header may hold it: a control character other than tab
// (NUL, a lone CR, ESC, DEL ...) becomes a blank, wherever in the template or a value it came from.
std::string Clean(std::string_view line) {
  std::string text(line);
  for (char& c : text) {
    if ((static_cast<unsigned char>(c) < ' ' && c != '\t') || c == 0x7f) c = ' ';
  }
  return text;
}

// The fields of a header block; continuation lines join the field before them, and lines that
// are no field (with their continuations) are left out.
std::vector<Field> SplitFields(std::string_view block) {
  std::vector<Field> fields;
  bool in_field = false;
  size_t start = 0;
  while (start < block.size()) {
    size_t end = block.find('\n', start);
    if (end == std::string_view::npos) end = block.size();
    std::string_view raw = block.substr(start, end - start);
    start = end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    const std::string text = Clean(raw);
    const std::string_view line = text;
    if (line.empty()) continue;
    if (line.front() == ' ' || line.front() == '\t') {
      if (!in_field) continue;
      fields.back().text.append(line).append("\r\n");
      fields.back().empty = fields.back().empty && !HasVisibleText(line);
      continue;
    }
    const std::optional<std::string> name = FieldName(line);
    in_field = name.has_value();
    if (!in_field) continue;
    Field field;
    field.name = *name;
    field.text.append(line).append("\r\n");
    field.empty = !HasVisibleText(line.substr(line.find(':') + 1));
    fields.push_back(std::move(field));
  }
  return fields;
}

std::string Line(std::string_view name, std::string_view value) {
  std::string line(name);
  line += ": ";
  line += Clean(value);
  line += "\r\n";
  return line;
}

std::string PlainTextType(std::string_view charset) {
  std::string type("text/plain; charset=");
  type += charset.empty() ? std::string_view("utf-8") : charset;
  return type;
}

bool IsContentField(const std::string& name) {
  return name.rfind("CONTENT-", 0) == 0;
}

}  // namespace

std::string WellFormedHeader(std::string_view expanded, const HeaderFrame& frame) {
  const bool multipart = !frame.content_type.empty();
  std::string out = Line("Date", frame.date);
  out += Line("Message-ID", frame.message_id);
  bool have_mime = false, have_type = false, have_encoding = false, have_reply = false;
  for (const Field& field : SplitFields(expanded)) {
    const std::string& name = field.name;
    if (field.empty || name == "BCC" || name == "DATE" || name == "MESSAGE-ID") continue;
    if (name == "MIME-VERSION") {
      if (have_mime) continue;
      have_mime = true;
      out += Line("MIME-Version", "1.0");
      if (multipart) {
        out += Line("Content-Type", frame.content_type);
        have_type = true;
      }
      continue;
    }
    if (multipart && IsContentField(name)) continue;
    if (name == "CONTENT-TYPE") {
      if (have_type) continue;
      have_type = true;
    } else if (name == "CONTENT-TRANSFER-ENCODING") {
      if (have_encoding) continue;
      have_encoding = true;
    } else if (name == "REPLY-TO" && !frame.reply_to.empty()) {
      continue;
    }
    out += field.text;
    if (name == "FROM" && !frame.reply_to.empty() && !have_reply) {
      out += Line("Reply-To", frame.reply_to);
      have_reply = true;
    }
  }
  if (!frame.reply_to.empty() && !have_reply) out += Line("Reply-To", frame.reply_to);
  if (!have_mime) out += Line("MIME-Version", "1.0");
  if (!have_type) {
    out += Line("Content-Type", multipart ? frame.content_type : PlainTextType(frame.charset));
  }
  return out;
}

std::string WellFormedPartHeader(std::string_view part_header, std::string_view charset) {
  std::string out;
  bool have_type = false, have_encoding = false;
  for (const Field& field : SplitFields(part_header)) {
    if (field.empty || field.name == "BCC" || field.name == "MIME-VERSION") continue;
    if (field.name == "CONTENT-TYPE") {
      if (have_type) continue;
      have_type = true;
    } else if (field.name == "CONTENT-TRANSFER-ENCODING") {
      if (have_encoding) continue;
      have_encoding = true;
    }
    out += field.text;
  }
  if (!have_type) out = Line("Content-Type", PlainTextType(charset)) + out;
  return out;
}

std::string RfcDate(TWallTime t) {
  const std::tm local = LocalTimeOf(WallSecondsOf(t));
  const long offset_minutes = local.tm_gmtoff / 60;
  const long shown = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  std::string zone(1, offset_minutes < 0 ? '-' : '+');
  AppendDecimal(zone, shown / 60, 2);
  AppendDecimal(zone, shown % 60, 2);
  return Rfc1123Date(local, zone);
}

std::string NewMessageId(std::string_view domain) {
  std::string clean;
  for (char c : domain) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.')
      clean += c;
  }
  while (!clean.empty() && clean.front() == '.') clean.erase(0, 1);
  while (!clean.empty() && clean.back() == '.') clean.pop_back();
  if (clean.empty()) clean = "localhost";

  // The kernel's source, not std::random_device: setting that up probes the processor (CPUID),
  // which under a hypervisor costs each CGI process more than the rest of the identifier.
  unsigned long long bits = 0;
  if (FillSystemRandom(&bits, sizeof bits, false) != sizeof bits) {
    bits = static_cast<unsigned long long>(RandomBetween(0, LLONG_MAX));
  }
  const long long now =
      std::chrono::duration_cast<std::chrono::microseconds>(WallClockNow().time_since_epoch())
          .count();
  std::string id(1, '<');
  AppendDecimal(id, now);
  id += '.';
  AppendDecimal(id, CurrentProcessId());
  id += '.';
  AppendHex(id, bits, 16);
  id += '@';
  id += clean;
  id += '>';
  return id;
}
