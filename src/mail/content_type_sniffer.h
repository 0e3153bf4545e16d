#pragma once

#include <string>
#include <string_view>

// The Content-Type of an attachment, from its first bytes (not from the name a visitor gave it):
// mail filters and readers distrust a text file sent as application/octet-stream, and a type
// taken from the name would be the visitor's word.
//
// The type comes from libmagic (Debian's libmagic1 and its database), opened the first time a
// mail has an attachment: most mails have none, and the gateway starts once per submission, so
// linking it would make every start pay for loading it. Without the library, or for content it
// does not know, the type is "application/octet-stream".
//
// One object per mail (libmagic's handle is not shared between threads); it loads the database
// on the first call.
class TContentTypeSniffer {
 public:
  TContentTypeSniffer() = default;
  ~TContentTypeSniffer();
  TContentTypeSniffer(const TContentTypeSniffer&) = delete;
  TContentTypeSniffer& operator=(const TContentTypeSniffer&) = delete;

  // The MIME type of content that begins with `head` ("application/pdf"); a text type carries its
  // charset ("text/plain; charset=utf-8") when libmagic names one. Only tokens of letters,
  // digits and "!#$&-^_.+" reach the result, so it can stand in a header line as it is.
  std::string TypeOf(std::string_view head);

 private:
  struct magic_set* magic_ = nullptr;
  bool tried_ = false;
};

inline constexpr const char* kUnknownContentType = "application/octet-stream";
