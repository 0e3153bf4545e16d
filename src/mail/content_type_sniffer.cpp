#include "mail/content_type_sniffer.h"

#include <magic.h>

#include "common/text_compare.h"
#include "platform/shared_library.h"

namespace {

// libmagic's functions, bound at the first use; `decltype` only names their types, so the
// program does not refer to the library's symbols.
struct TMagicLibrary {
  decltype(&::magic_open) magic_open = nullptr;
  decltype(&::magic_load) magic_load = nullptr;
  decltype(&::magic_buffer) magic_buffer = nullptr;
  decltype(&::magic_close) magic_close = nullptr;
};

const TMagicLibrary* LoadMagic() {
  static const TFunctionTable<TMagicLibrary> table(
      "libmagic.so.1", [](TSharedLibrary& library, TMagicLibrary& magic) {
        library.Bind(magic.magic_open, "magic_open");
        library.Bind(magic.magic_load, "magic_load");
        library.Bind(magic.magic_buffer, "magic_buffer");
        library.Bind(magic.magic_close, "magic_close");
      });
  std::string unused;
  return table.Get(unused);
}

// An RFC 2045 token made of the characters that need no quoting anywhere.
bool IsToken(std::string_view text) {
  if (text.empty() || text.size() > 100) return false;
  for (char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!plain && std::string_view("!#$&-^_.+").find(c) == std::string_view::npos) return false;
  }
  return true;
}

// "type/subtype; charset=name" from libmagic's answer; the unknown type for anything else.
std::string CleanType(std::string_view answer) {
  const size_t semicolon = answer.find(';');
  const std::string type = Trim(answer.substr(0, semicolon));
  const size_t slash = type.find('/');
  if (slash == std::string::npos || !IsToken(type.substr(0, slash)) ||
      !IsToken(type.substr(slash + 1)) || type.rfind("inode/", 0) == 0 ||
      type == "application/x-empty")
    return kUnknownContentType;
  if (semicolon == std::string_view::npos || type.rfind("text/", 0) != 0) return type;
  std::string charset = Trim(answer.substr(semicolon + 1));
  if (charset.rfind("charset=", 0) != 0) return type;
  charset.erase(0, 8);
  // "binary" and "unknown-8bit" name no character set a reader could use.
  if (!IsToken(charset) || charset == "binary" || charset == "unknown-8bit") return type;
  return type + "; charset=" + charset;
}

}  // namespace

TContentTypeSniffer::~TContentTypeSniffer() {
  if (magic_ != nullptr) LoadMagic()->magic_close(magic_);
}

std::string TContentTypeSniffer::TypeOf(std::string_view head) {
  if (!tried_) {
    tried_ = true;
    if (const TMagicLibrary* library = LoadMagic()) {
      magic_ = library->magic_open(MAGIC_MIME);
      // Without its database the handle knows nothing: every type is the unknown one.
      if (magic_ != nullptr && library->magic_load(magic_, nullptr) != 0) {
        library->magic_close(magic_);
        magic_ = nullptr;
      }
    }
  }
  if (magic_ == nullptr || head.empty()) return kUnknownContentType;
  const char* answer = LoadMagic()->magic_buffer(magic_, head.data(), head.size());
  return answer == nullptr ? kUnknownContentType : CleanType(answer);
}
