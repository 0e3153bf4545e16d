#include "gateway/json_answer.h"

#include <algorithm>
#include <utility>

#include "common/text_compare.h"
#include "common/utf8.h"
#include "engine/http_engine.h"

namespace {

// Strips blanks and lower-cases ASCII letters: media types and parameters compare that way.
std::string Normalised(std::string_view text) {
  return LowerCase(Trim(text));
}

// The q value of an Accept entry's parameters; 1 when it names none, 0 when it is not a number.
double Quality(std::string_view parameters) {
  size_t at = 0;
  while (at < parameters.size()) {
    size_t end = parameters.find(';', at);
    if (end == std::string_view::npos) end = parameters.size();
    const std::string parameter = Normalised(parameters.substr(at, end - at));
    if (parameter.rfind("q=", 0) == 0) {
      try {
        return std::stod(parameter.substr(2));
      } catch (...) {
        return 0;
      }
    }
    at = end + 1;
  }
  return 1;
}

}  // namespace

bool RequestPrefersJson(std::string_view accept, std::string_view format_field) {
  if (Normalised(format_field) == "json") return true;
  size_t at = 0;
  while (at < accept.size()) {
    size_t end = accept.find(',', at);
    if (end == std::string_view::npos) end = accept.size();
    const std::string_view entry = accept.substr(at, end - at);
    const size_t semicolon = entry.find(';');
    const std::string type = Normalised(entry.substr(0, semicolon));
    const std::string_view parameters =
        semicolon == std::string_view::npos ? std::string_view() : entry.substr(semicolon + 1);
    if ((type == "application/json" || type == "text/html") && Quality(parameters) > 0) {
      return type == "application/json";
    }
    at = end + 1;
  }
  return false;
}

std::string JsonString(std::string_view text) {
  static const char* const kHex = "0123456789abcdef";
  std::string out = "\"";
  size_t at = 0;
  while (at < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80) {
      const size_t length = Utf8Length(text, at);
      if (length == 0) {
        out += "\\ufffd";
        ++at;
        continue;
      }
      // U+2028 and U+2029 are valid JSON but end a line in older script engines.
      if (length == 3 && c == 0xE2 && text[at + 1] == '\x80' &&
          (text[at + 2] == '\xA8' || text[at + 2] == '\xA9')) {
        out += text[at + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      } else {
        out.append(text.substr(at, length));
      }
      at += length;
      continue;
    }
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
    ++at;
  }
  out += '"';
  return out;
}

std::string JsonStringArray(const std::vector<std::string>& names) {
  std::string out = "[";
  for (const std::string& name : names) {
    if (out.size() > 1) out += ',';
    out += JsonString(name);
  }
  out += ']';
  return out;
}

std::string StatusLine(int status) {
  const char* reason = "OK";
  switch (status) {
    case 204:
      reason = "No Content";
      break;
    case 400:
      reason = "Bad Request";
      break;
    case 403:
      reason = "Forbidden";
      break;
    case 404:
      reason = "Not Found";
      break;
    case 413:
      reason = "Content Too Large";
      break;
    case 422:
      reason = "Unprocessable Content";
      break;
    case 500:
      reason = "Internal Server Error";
      break;
    case 503:
      reason = "Service Unavailable";
      break;
    case 502:
      reason = "Bad Gateway";
      break;
    default:
      break;
  }
  std::string line = "HTTP/1.0 ";
  line += std::to_string(status);
  line += ' ';
  line += reason;
  return line;
}

void WriteJsonAnswer(int status, const std::string& object) {
  THttpEngine* engine = CurrentHttpEngine();
  if (engine == nullptr) return;
  // A queued status line replaces the engine's own "200 OK".
  engine->AddHeader(StatusLine(status), "");
  engine->AddHeader("Content-Type", "application/json; charset=utf-8");
  engine->Write(object);
}

const char* MailFailureKind(int reply_code) {
  if (reply_code >= 400 && reply_code <= 599) return "The mail server refused the message";
  if (reply_code < 0) return "The mail server could not be reached";
  return "The mail could not be sent";
}

void WriteJsonAnswer(const TJsonAnswer& answer) {
  WriteJsonAnswer(answer.status, answer.body);
}

TJsonAnswer MissingJsonAnswer(const std::vector<std::string>& missing) {
  for (const auto& [field, text] :
       {std::pair{"mail_to", "The form's recipient is not configured"},
        std::pair{"smtp_server", "The mail server is not configured"}}) {
    if (std::find(missing.begin(), missing.end(), field) == missing.end()) continue;
    return {500, "{\"status\":\"not_configured\",\"error\":" + JsonString(text) + "}"};
  }
  return {422, "{\"status\":\"missing\",\"missing\":" + JsonStringArray(missing) + "}"};
}

TJsonAnswer SentJsonAnswer(std::string_view refnum) {
  return {200, "{\"status\":\"sent\",\"refnum\":" +
                   (refnum.empty() ? std::string("null") : std::string(refnum)) + "}"};
}

TJsonAnswer NotSentJsonAnswer(const TNotSent& facts) {
  if (!facts.refusal_code.empty()) {
    return {403, "{\"status\":\"refused\",\"error\":" + JsonString(facts.refusal_code) +
                     ",\"message\":" + JsonString(facts.last_error) + "}"};
  }
  if (facts.refused) {
    return {403, "{\"status\":\"refused\",\"error\":" + JsonString(Trim(facts.last_error)) + "}"};
  }
  return {502, std::string("{\"status\":\"failed\",\"error\":") +
                   JsonString(MailFailureKind(facts.reply_code)) + "}"};
}
