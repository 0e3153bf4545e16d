#include "mail/smtp_login.h"

#include "common/text_compare.h"
#include "mail/mime_encoding.h"

namespace {

// The words of `line` after the three-digit code and its separator, upper-cased.
std::string KeywordLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.size() < 4) return {};
  std::string words(line.substr(4));
  for (char& c : words) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '=') c = ' ';  // "AUTH=LOGIN" as some old servers write it
  }
  return words;
}

bool HasWord(std::string_view words, std::string_view word) {
  size_t pos = 0;
  while (pos < words.size()) {
    const size_t end = std::min(words.find(' ', pos), words.size());
    if (words.substr(pos, end - pos) == word) return true;
    pos = end + 1;
  }
  return false;
}

}  // namespace

TEhloOffer ParseEhloOffer(std::string_view reply) {
  TEhloOffer offer;
  bool first = true;
  size_t pos = 0;
  while (pos < reply.size()) {
    size_t end = reply.find('\n', pos);
    if (end == std::string_view::npos) end = reply.size();
    const std::string words = KeywordLine(reply.substr(pos, end - pos));
    pos = end + 1;
    if (first) {
      first = false;
      continue;
    }
    if (words == "STARTTLS") offer.StartTls = true;
    if (words.starts_with("AUTH ")) {
      offer.AuthPlain = offer.AuthPlain || HasWord(words, "PLAIN");
      offer.AuthLogin = offer.AuthLogin || HasWord(words, "LOGIN");
    }
  }
  return offer;
}

std::string AuthPlainToken(std::string_view user, std::string_view password) {
  std::string plain(1, '\0');
  plain += user;
  plain += '\0';
  plain += password;
  return Base64Encode(plain);
}

bool IsLoopbackAddress(const sockaddr* address) {
  const std::optional<TIpAddress> ip = TIpAddress::Of(address);
  return ip && ip->IsLoopback();
}

bool PasswordMayTravel(bool encrypted, const sockaddr* peer) {
  return encrypted || IsLoopbackAddress(peer);
}
