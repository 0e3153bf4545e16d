// THttpEngine: server variables by normalised name, with the alias table that lets one name
// find the value whichever server interface supplied it.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "common/text_compare.h"
#include "engine/http_engine.h"
#include "engine/url_codec.h"

namespace {

// A constant table, not strings built at the first lookup: a CGI process makes one lookup or
// more and would build the whole table each time.
struct AliasGroup {
  std::string_view members[5];  // names that select the group (unused places empty)
  std::string_view tries[5];    // names tried, in this order (unused places empty)
};

constexpr AliasGroup kAliasGroups[] = {
    {{"EXECUTABLE_PATH", "SCRIPT_NAME", "URL", "URI", "HTTP_URL"},
     {"SCRIPT_NAME", "EXECUTABLE_PATH", "URL", "HTTP_URL", "URI"}},
    {{"QUERY_STRING", "QUERY"}, {"QUERY_STRING", "QUERY"}},
    {{"SERVER_SOFTWARE", "SERVER_NAME"}, {"SERVER_SOFTWARE", "SERVER_NAME"}},
    {{"REMOTE_ADDR", "REMOTE_ADDRESS", "IP"}, {"REMOTE_ADDR", "REMOTE_ADDRESS", "IP"}},
    {{"REQUEST_METHOD", "METHOD"}, {"REQUEST_METHOD", "METHOD"}},
    {{"REMOTE_HOST", "HOST", "DNS"}, {"REMOTE_HOST", "HOST", "DNS"}},
    // The misspelling is the name some servers really use.
    {{"AUTH_TYPE", "AUTHETICATION_METHOD"}, {"AUTH_TYPE", "AUTHETICATION_METHOD"}},
    {{"HTTP_USER_AGENT", "USER_AGENT"}, {"USER_AGENT", "HTTP_USER_AGENT"}},
    {{"HTTP_REFERER", "REFERER"}, {"REFERER", "HTTP_REFERER"}},
    {{"SERVER_PROTOCOL", "REQUEST_PROTOCOL", "PROTOCOL"},
     {"SERVER_PROTOCOL", "REQUEST_PROTOCOL", "PROTOCOL"}},
    {{"HTTP_COOKIE", "COOKIE"}, {"HTTP_COOKIE", "COOKIE"}},
    {{"DOCUMENT_ROOT", "PATH_TRANSLATED", "PATH"}, {"DOCUMENT_ROOT", "PATH_TRANSLATED", "PATH"}},
    {{"AUTH_USER", "AUTHENTICATED_USERNAME"}, {"AUTH_USER", "AUTHENTICATED_USERNAME"}},
    {{"AUTH_PASSWORD", "AUTHENTICATED_PASSWORD"}, {"AUTH_PASSWORD", "AUTHENTICATED_PASSWORD"}},
};

// For each name length, the first letters of the group members of that length (bit 0 for "A"):
// most lookups that come here name no server variable at all (a message's macros mostly name
// form fields), and this turns nearly all of them away before any member is compared. Built
// once a process (GCC 12 cannot build it at compile time from the table).
constexpr size_t kMaxMemberLength = 31;
using MemberInitials = std::array<uint32_t, kMaxMemberLength + 1>;
const MemberInitials& InitialsByLength() {
  static const MemberInitials initials = [] {
    MemberInitials result{};
    for (const AliasGroup& group : kAliasGroups) {
      for (const std::string_view member : group.members) {
        if (!member.empty()) result.at(member.size()) |= 1u << (member.front() - 'A');
      }
    }
    return result;
  }();
  return initials;
}

// The group a normalised name selects, or null. A group's unused places end its search.
const AliasGroup* GroupNamed(std::string_view key) {
  if (key.empty() || key.size() > kMaxMemberLength || key.front() < 'A' || key.front() > 'Z' ||
      (InitialsByLength()[key.size()] & (1u << (key.front() - 'A'))) == 0) {
    return nullptr;
  }
  for (const AliasGroup& group : kAliasGroups) {
    for (const std::string_view member : group.members) {
      if (member.empty()) break;
      if (member == key) return &group;
    }
  }
  return nullptr;
}

std::string NormaliseName(const std::string& name) {
  std::string result = UpperCase(name);
  for (char& c : result) {
    if (c == '-' || c == ' ') c = '_';
  }
  return result;
}

}  // namespace

std::string THttpEngine::GetServerVariable(const std::string& name) {
  TStringList* variables = ServerVariables();
  auto lookup = [&](std::string_view key) {
    return variables != nullptr ? variables->Values(key) : std::string();
  };
  std::string key = NormaliseName(name);
  std::string value = lookup(key);
  if (!value.empty()) return value;
  if (const AliasGroup* found = GroupNamed(key)) {
    const AliasGroup& group = *found;
    for (const std::string_view candidate : group.tries) {
      if (candidate.empty()) break;
      value = lookup(candidate);
      if (!value.empty()) return value;
    }
    if (group.tries[0] == "AUTH_USER" || group.tries[0] == "AUTH_PASSWORD") {
      std::string user;
      std::string password;
      DecodeBasicAuth(lookup("HTTP_AUTHORIZATION"), user, password);
      return group.tries[0] == "AUTH_USER" ? user : password;
    }
    return "";
  }
  return GetOtherServerVariable(name);
}

std::string THttpEngine::ServerSoftware() {
  return GetServerVariable("SERVER SOFTWARE");
}
std::string THttpEngine::GatewayInterface() {
  return GetServerVariable("GATEWAY INTERFACE");
}
std::string THttpEngine::ServerProtocol() {
  return GetServerVariable("SERVER_PROTOCOL");
}
std::string THttpEngine::ServerPort() {
  return GetServerVariable("SERVER_PORT");
}
bool THttpEngine::ServerPortSecure() {
  return GetServerVariable("SERVER_PORT_SECURE") == "1";
}
std::string THttpEngine::RequestMethod() {
  return GetServerVariable("REQUEST_METHOD");
}
std::string THttpEngine::PathInfo() {
  return GetServerVariable("PATH_INFO");
}
std::string THttpEngine::PathTranslated() {
  return GetServerVariable("PATH_TRANSLATED");
}
std::string THttpEngine::ScriptName() {
  return GetServerVariable("SCRIPT_NAME");
}
std::string THttpEngine::QueryString() {
  return GetServerVariable("QUERY_STRING");
}
std::string THttpEngine::RemoteHost() {
  return GetServerVariable("REMOTE_HOST");
}
std::string THttpEngine::RemoteAddr() {
  return GetServerVariable("REMOTE_ADDR");
}
std::string THttpEngine::AuthType() {
  return GetServerVariable("AUTH_TYPE");
}
std::string THttpEngine::RemoteUser() {
  return GetServerVariable("REMOTE_USER");
}
std::string THttpEngine::RemoteIdent() {
  return GetServerVariable("REMOTE_IDENT");
}
std::string THttpEngine::ContentType() {
  return GetServerVariable("CONTENT_TYPE");
}
std::string THttpEngine::URL() {
  return GetServerVariable("URL");
}
std::string THttpEngine::UserAgent() {
  return GetServerVariable("USER_AGENT");
}
std::string THttpEngine::HttpCookie() {
  return GetServerVariable("HTTP_COOKIE");
}
std::string THttpEngine::HttpReferer() {
  return GetServerVariable("HTTP_REFERER");
}
std::string THttpEngine::ExecutablePath() {
  return GetServerVariable("EXECUTABLE_PATH");
}

int THttpEngine::ContentLength() {
  // Like a strict string-to-integer with a default: anything but an optional sign and digits
  // that fit an int is 0.
  std::string text = GetServerVariable("CONTENT_LENGTH");
  if (text.empty()) return 0;
  size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (start == text.size()) return 0;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
  }
  errno = 0;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value > std::numeric_limits<int>::max() ||
      value < std::numeric_limits<int>::min()) {
    return 0;
  }
  return static_cast<int>(value);
}
