#pragma once

#include <string>
#include <string_view>
#include <vector>

// Answers for forms sent by script. A page that posts its form with fetch() asks for JSON, and
// then gets one small JSON object with a real HTTP status instead of a whole HTML page:
//
//   sent (200)     {"status":"sent","refnum":12}        refnum null when the request drew none
//   missing (422)  {"status":"missing","missing":["namereq","mail_from"]}
//   not_configured (500)  {"status":"not_configured","error":"The mail server is not configured"}
//                  no recipient or mail server from brevix.ini or an allowed field: the owner's
//                  fault, not the visitor's (the error log names the key to set)
//   refused (403)  {"status":"refused","error":"Too many submissions"}
//   refused (403)  {"status":"refused","error":"pow","message":"The anti-spam check failed, please
//                  try again"}   a missing or bad proof-of-work solution (guards/pow_guard.h)
//   refused (413)  {"status":"refused","error":"Content length exceeds allowed limit: 150000
//                  bytes sent, 100000 allowed (Max_Request_Size)"}
//   failed (502)   {"status":"failed","error":"The mail server refused the message"}
//   error (400)    {"status":"error","error":"Request body incomplete: 10 of 40 bytes arrived"}
//   error (400)    {"status":"error","error":"JSON body refused: a nested object ... at byte 9"}
//   error (500)    {"status":"error","error":"Unexpected error"}
//
// A failed send names only the kind of failure (MailFailureKind): the server's own reply can
// hold addresses, host names and more, and stays in the error log.
//
// Everything else of the request (mail, results file, logs, reference numbers) is the same as
// for an HTML answer; only the answer differs. A form posted without asking for JSON is answered
// with its pages exactly as before; a form posted as JSON (Content-Type application/json) is
// always answered in JSON.

// True when the request asks for JSON: its `format_field` (the form field "_format") is "json",
// or its Accept header lists application/json (with a q above 0) before text/html or without it.
bool RequestPrefersJson(std::string_view accept, std::string_view format_field);

// `text` as a JSON string, quotes included. Quotes, backslashes and control characters are
// escaped, as are U+2028 and U+2029 (line ends to a script); bytes that are not UTF-8 become
// U+FFFD, so the answer is always valid UTF-8 whatever a visitor sent.
std::string JsonString(std::string_view text);

// The kind of a failed send, from the code of the mail server's last reply (-1 when none was
// read): "The mail server refused the message" for a 4xx or 5xx reply, "The mail server could
// not be reached" when no reply came (no connection, silence, a hang-up), else "The mail could
// not be sent" (a TLS or security-setting failure, an unreadable attachment).
const char* MailFailureKind(int reply_code);

// `names` as a JSON array of strings.
std::string JsonStringArray(const std::vector<std::string>& names);

// An answer's HTTP status and JSON object.
struct TJsonAnswer {
  int status = 200;
  std::string body;
};

// Fields missing: 500 not_configured when "mail_to" or "smtp_server" is among `missing` (the
// owner's to set: the text names nothing the visitor sent), else 422 with every missing field.
TJsonAnswer MissingJsonAnswer(const std::vector<std::string>& missing);
// Mail sent (or a bot answered as if): 200 with `refnum`, the number the request drew (null
// when empty).
TJsonAnswer SentJsonAnswer(std::string_view refnum);
// The facts of a submission that was not sent.
struct TNotSent {
  bool refused = false;      // a guard refused the submission or its main mail
  std::string refusal_code;  // a refusal a script tells apart ("pow"); empty for the others
  std::string last_error;    // the request's LastMailError
  int reply_code = -1;       // the mail server's last reply code; -1 when none was read
};
// Mail not sent: 403 for a refusal with its code and `last_error` as "message", 403 for another
// refusal with `last_error` as "error", else 502 naming the kind of failure alone: the server's
// reply, port and addresses stay out of an answer that any allowed page may read.
TJsonAnswer NotSentJsonAnswer(const TNotSent& facts);

// Queues the status line and the JSON content type and writes `object` as the answer's body,
// on the calling thread's current request. `status` is one of 200, 204, 400, 403, 404, 413, 422,
// 500, 502.
void WriteJsonAnswer(int status, const std::string& object);
void WriteJsonAnswer(const TJsonAnswer& answer);

// The HTTP status line of a code used by the gateway ("HTTP/1.0 422 Unprocessable Content").
std::string StatusLine(int status);
