#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "common/smtp_security_settings.h"
#include "common/string_list.h"
#include "mail/tcp_client.h"
#include "platform/clock.h"

class TTlsSession;
class TSmtpDataWriter;
struct TEhloOffer;

// The SMTP sender: one complete SMTP dialogue per SendMail call over its own TCP connection.
// With the default Security (mode none, no user) that is the plain dialogue: HELO, no
// authentication, no extensions. Otherwise (smtp_secure_session.cpp):
//   - mode tls: the TLS handshake right after the connect, before the greeting;
//   - EHLO, falling back to HELO when the server refuses it;
//   - mode starttls: STARTTLS (which the EHLO reply must offer), the handshake, EHLO again;
//   - a user: AUTH PLAIN when offered, else AUTH LOGIN. The password goes only over TLS or to a
//     server on the loopback interface; otherwise the send fails before AUTH.
// The certificate is checked as Security.Verify says (tls_session.h).
//
// The caller fills in the published members below and calls SendMail with a time-out. The body
// lines are joined with CR LF and scanned for entries (a name between two "%" signs with no blank
// in between); each entry raises OnBodyEntry, whose handler calls WriteBody with the text that
// replaces it. With attachments the message becomes multipart/mixed with a boundary drawn at
// random for the message (mime_boundary.h) and each file follows as base64 in lines of 60
// characters, with the type its content shows (content_type_sniffer.h) and its name as
// attachment_header.h writes it.
//
// The greeting waits at most 10 seconds: a server that stays silent on a port that speaks TLS
// from the first byte (465, or one that answers a TLS handshake) fails with kNoGreetingTls, any
// other silent one with kNoGreeting (smtp_greeting.cpp).
//
// On the wire: every line that begins with "." gets one more "."; line ends are CR LF; a header
// (or, with attachments, part header) that declares "Content-Transfer-Encoding: quoted-printable"
// gets a quoted-printable body; an HTML body's <meta> tags name the charset its header declares
// (html_charset.h); a body with valid UTF-8 beyond ASCII is declared as utf-8; a
// subject or display name beyond ASCII goes out as an RFC 2047 encoded word. CR and LF in the
// addresses and the subject never reach the wire as line breaks. Whatever the header template
// says, the message has exactly one Date, Message-ID, MIME-Version and Content-Type, no empty
// field and no Bcc field (well_formed_header.h); the Bcc addresses get the mail as recipients.
//
// In a resident process (KeptSmtpConnectionsAllowed) with Security.KeepAlive, the connection
// outlives SendMail: after the server accepted the message it is kept for the calling thread
// instead of QUIT (smtp_kept_connection.h), and the next SendMail on that thread with the same
// server, port, security, login and greeting name sends RSET on it instead of connecting and
// greeting anew. A kept connection that turns out closed (no answer to RSET, a hang-up or a 421
// before the server took DATA) is given up and the mail goes once on a fresh connection, whose
// outcome and texts alone are reported; after DATA was taken, nothing is ever sent twice.
//
// One object serves one SendMail at a time; its message buffer, time limit and last error belong
// to it, so senders on several threads share nothing. SendMail waits in the calling thread's
// message pump (poll), never in a busy loop.
class TSmtpSendMail : public TTCPClient {
 public:
  using TBodyEntryEvent = std::function<void(const std::string& entry_name)>;

  // RemoteHost "mail", RemotePort "25", the default seven-line MailHeader.
  TSmtpSendMail();
  ~TSmtpSendMail() override;

  // Published properties (RemoteHost and RemotePort are inherited from TTCPClient).
  // Attachments: one file per item, a path or "display name <path>".
  TStringList Attachments;
  std::string MailFrom;
  std::string MailTo;
  std::string MailBCC;
  std::string MailCC;
  std::string MailSubject;
  // The message text, one line per item, with entries.
  TStringList MailBody;
  // The header template, one header line per item, with the macros %MAILFROM%, %MAILTO%,
  // %MAILCC%, %MAILBCC%, %MAILSUBJECT% and %SUBJECT%.
  TStringList MailHeader;
  // When set, the message's Reply-To (an address list), replacing any of the header template.
  std::string ReplyTo;
  // Raised for every entry of the body; the handler calls WriteBody with the replacement.
  TBodyEntryEvent OnBodyEntry;
  // Raised the moment the server has accepted the message (its reply to the final "."), before
  // QUIT: from then on the message must never be sent again, whatever ends the process.
  std::function<void()> OnMessageAccepted;
  // TLS and the login (common/smtp_security_settings.h); the default is the plain dialogue.
  TSmtpSecuritySettings Security;
  // The name of the greeting (HELO, EHLO) and the domain of the Message-ID: the owner's
  // (greeting_name.h), never a visitor's. Empty: the machine's fully qualified name.
  std::string HeloName;

  // Setters in the component's shape: each copies the given list.
  virtual void SetMailHeader(const TStringList& lines) { MailHeader.Assign(lines); }
  virtual void SetMailBody(const TStringList& lines) { MailBody.Assign(lines); }
  virtual void SetAttachments(const TStringList& lines) { Attachments.Assign(lines); }

  // Appends text to the message being built (only meaningful during SendMail, from an
  // OnBodyEntry handler).
  virtual void WriteBody(const std::string& text);
  // Passes template text to WriteBody.
  virtual void WriteBodyText(const std::string& text);

  // Runs the whole dialogue; `timeout_seconds` bounds all of it, from the connect to the reply
  // after the message (the connect alone waits at most 20 seconds; a stalled send gives up at the
  // same limit). Returns true once the server has accepted
  // the message (250 after the final "."); QUIT is still sent and the connection closed, but its
  // answer does not change the result. Returns false on any failure, with GetLastErrorText set;
  // the connection is then closed and nothing half-sent is ever delivered. An attachment that
  // cannot be read aborts the transfer and throws Exception with the file error.
  bool SendMail(int timeout_seconds);

  // The failure of the extended dialogue when there was one ("TLS handshake failed: " and
  // OpenSSL's reason, "Server does not offer STARTTLS", the refusal to send a password in plain
  // text, "Server requires authentication: " and the server's 530 reply to MAIL FROM when no
  // login was made); else the socket error text recorded since the last server reply, else the
  // raw text of the last reply (e.g. the server's 550 line or its answer to AUTH), or
  // "SendMessage timeout" after a wait ran out.
  std::string GetLastErrorText() const;

  // Sends on the connection, through TLS once it is on.
  bool SendText(const std::string& text) override;

  // The code of the last reply (-1 when none was read) and its raw text.
  int LastReplyCode() const { return reply_code_; }
  const std::string& LastReplyText() const { return reply_text_; }

 private:
  bool OpenSession();
  // Clears the reply, the received bytes and the failure of an earlier dialogue.
  void ResetDialogue();
  // MAIL FROM, the recipients, DATA and the message up to the server's reply; `data_accepted`
  // tells whether the server had answered DATA with 354.
  bool Transaction(bool& data_accepted);
  // True when the last failure was the connection's end (a hang-up, a reset, 421).
  bool LostConnection() const;
  // After the server's 250 for the message: keeps the connection (`keep`) or ends it with QUIT.
  bool Accepted(bool keep);
  // The kept connection's key: server, port, security, login and greeting name.
  std::string KeptConnectionKey() const;
  // Hands the connection to the thread's keeping (smtp_kept_connection.h); false when it is
  // not fit to be kept.
  bool KeepSession();
  // Takes the thread's kept connection for this sender's key and sends RSET on it; false (the
  // dialogue clean again) when there is none or it does not answer.
  bool ResumeKeptSession();
  bool WaitForConnection();
  // Reads one whole reply (all lines of a multi-line one) into reply_code_ and reply_text_.
  // Returns false when none arrived: the wait ran out ("SendMessage timeout") or the server hung
  // up (10054); the connection is closed then, unless the wait for `until` ran out and
  // `close_on_timeout` is false.
  bool ReadReply() { return ReadReply(deadline_, true); }
  bool ReadReply(TMonotonicTime until, bool close_on_timeout);
  // Reads the server's greeting (smtp_greeting.cpp).
  bool ReadGreeting();
  // True when the silent server answers a TLS handshake (smtp_greeting.cpp).
  bool PortSpeaksTls();
  // The greeting name, HeloName or the machine's.
  std::string GreetingHost() const;
  // Adds the attachment parts to `out`, sending as it goes (smtp_attachments.cpp).
  bool AddAttachments(const std::string& boundary, TSmtpDataWriter& out);
  bool Command(const std::string& line, int expected, int also_expected = -1);
  bool SendRecipients();
  bool SendMessage();
  bool Fail();
  // Closes the connection (with TLS's close notice when TLS is on).
  void CloseConnection();
  // One read without waiting, through TLS once it is on (as ReceiveText).
  std::string Receive(bool& closed);

  // The extended dialogue (smtp_secure_session.cpp).
  bool OpenExtendedSession(const std::string& host);
  // EHLO, else HELO; `offer` is what the EHLO reply announced (nothing after HELO).
  bool Hello(const std::string& host, TEhloOffer& offer);
  bool StartTlsSession();
  bool Login(const TEhloOffer& offer);
  // Marks a 530 answer to MAIL FROM as the server's wish for a login.
  void ExplainRefusedSender();

  std::string message_;  // the message buffer that WriteBody appends to
  TMonotonicTime deadline_{};
  int reply_code_ = -1;
  std::string reply_text_;
  std::string received_;              // bytes received beyond the last complete reply
  std::unique_ptr<TTlsSession> tls_;  // the TLS layer once it is on, for one connection
  std::string failure_text_;          // the extended dialogue's failure, see GetLastErrorText
  bool logged_in_ = false;
};
