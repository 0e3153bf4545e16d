#pragma once

#include <cstddef>
#include <string_view>

// Framing of SMTP replies, kept apart from the socket so that it can be tested and fuzzed alone.
//
// A reply is one or more lines ended by LF (normally CR LF). Lines that begin with three digits
// and a "-" continue the reply; the first line that does not ends it, and its code (three digits
// at its start) is the reply's code. A final line that does not begin with three digits gives
// code -1, as does a reply that grows beyond kMaxSmtpReplyBytes without ending (a hostile or
// broken server), which is then taken as complete at that length.

constexpr size_t kMaxSmtpReplyBytes = 64 * 1024;

struct SmtpReplyScan {
  bool complete = false;  // a whole reply is present
  int code = -1;          // its code, -1 when not three digits
  size_t length = 0;      // bytes of `received` that belong to the reply (when complete)
};

// Looks for the first complete reply at the start of `received`. Never reads past its end.
SmtpReplyScan ScanSmtpReply(std::string_view received);
