#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/clock.h"

// The header block as it goes on the wire, whatever the header template says: mail filters
// score a message whose Date or Message-ID is missing, whose MIME-Version or Content-Type comes
// twice, or that carries empty header fields, and a Bcc field would show the hidden recipients
// to everyone. Pure functions on text; none of them throws.

// What the sender adds to the template's fields.
struct HeaderFrame {
  std::string date;          // the Date value (RfcDate)
  std::string message_id;    // the Message-ID value, "<...@...>" (NewMessageId)
  std::string reply_to;      // a Reply-To value that replaces the template's; empty: none added
  std::string content_type;  // with attachments the multipart type, replacing the template's
  std::string charset;       // the body's charset, for a Content-Type the template lacks
};

// Rewrites an expanded header block (lines ended by CR LF; a line that begins with a blank or tab
// continues the field before it) so that the message has exactly one Date, Message-ID,
// MIME-Version ("1.0") and Content-Type:
// - Date and Message-ID come first, from `frame`; the template's own are dropped.
// - A line that is no "name: value" field, a field whose value is empty, and every Bcc field are
//   dropped.
// - The first MIME-Version stays in its place as "MIME-Version: 1.0", later ones are dropped;
//   without one it is added after the template's fields.
// - Content-Type: with frame.content_type set it stands right after MIME-Version and the
//   template's Content-* fields are dropped; otherwise the template's first Content-Type and
//   Content-Transfer-Encoding stay and later ones are dropped, and a missing Content-Type becomes
//   "text/plain; charset=" frame.charset after MIME-Version.
// - With frame.reply_to set, "Reply-To: " it follows the first From field (or ends the block) and
//   the template's Reply-To fields are dropped.
// Every other field keeps its place and its text. In every line, the frame's values included, a
// control character other than tab becomes a blank: no NUL or stray CR reaches the wire.
std::string WellFormedHeader(std::string_view expanded, const HeaderFrame& frame);

// The header of the text part of a multipart message (the template's Content-* lines): empty and
// repeated Content-Type and Content-Transfer-Encoding fields are dropped, and a missing
// Content-Type becomes "text/plain; charset=" `charset`. Control characters as above.
std::string WellFormedPartHeader(std::string_view part_header, std::string_view charset);

// `t` as an RFC 5322 date in the local time zone of the process, with English names whatever the
// locale: "Mon, 07 Dec 2026 18:40:00 +0100".
std::string RfcDate(TWallTime t);

// A new Message-ID, "<" time "." process id "." 64 random bits "@" domain ">". The domain is
// `domain` (the sender's greeting name, greeting_name.h) reduced to letters, digits, "-" and ".",
// or "localhost" when nothing of it is left.
std::string NewMessageId(std::string_view domain);
