#include "mail/smtp_send_mail.h"

#include <algorithm>

#include "common/text_compare.h"
#include "mail/address_list.h"
#include "mail/body_scan.h"
#include "mail/greeting_name.h"
#include "mail/html_charset.h"
#include "mail/mail_header.h"
#include "mail/mime_boundary.h"
#include "mail/mime_encoding.h"
#include "mail/smtp_data_writer.h"
#include "mail/smtp_kept_connection.h"
#include "mail/smtp_reply.h"
#include "mail/tls_session.h"
#include "mail/well_formed_header.h"
#include "mail/winsock_errors.h"
#include "platform/message_pump.h"
#include "platform/socket_io.h"

namespace {

constexpr std::chrono::seconds kConnectWait{20};
// The longest a kept connection may take to answer RSET before a fresh one is opened instead.
constexpr std::chrono::seconds kResetWait{5};

}  // namespace

TSmtpSendMail::TSmtpSendMail() {
  RemoteHost = "mail";
  RemotePort = "25";
  MailHeader.Add("From: %MAILFROM%");
  MailHeader.Add("To: %MAILTO%");
  MailHeader.Add("CC: %MAILCC%");
  MailHeader.Add("BCC: %MAILBCC%");
  MailHeader.Add("Subject: %SUBJECT% ");
  MailHeader.Add("Mime-Version: 1.0");
  MailHeader.Add("Content-Type: text/plain; charset=iso-8859-1");
}

TSmtpSendMail::~TSmtpSendMail() = default;

void TSmtpSendMail::WriteBody(const std::string& text) {
  message_ += text;
}

void TSmtpSendMail::WriteBodyText(const std::string& text) {
  WriteBody(text);
}

std::string TSmtpSendMail::GetLastErrorText() const {
  if (!failure_text_.empty()) return failure_text_;
  std::string text = ErrorText();
  return text.empty() ? reply_text_ : text;
}

void TSmtpSendMail::ResetDialogue() {
  reply_code_ = -1;
  reply_text_.clear();
  received_.clear();
  failure_text_.clear();
  logged_in_ = false;
  SetLastError(0);
}

bool TSmtpSendMail::SendMail(int timeout_seconds) {
  message_.clear();
  // One limit for the whole dialogue: a server that answers each command just in time must not
  // hold the caller for many multiples of it.
  deadline_ = MonotonicNow() + std::chrono::seconds(std::max(timeout_seconds, 0));
  send_deadline_ = deadline_;
  ResetDialogue();
  // A connection left over from an earlier call must not carry this dialogue.
  if (state_ != kSocketIdle) CloseConnection();
  SetLastError(0);

  const bool keep = Security.KeepAlive && KeptSmtpConnectionsAllowed();
  bool data_accepted = false;
  if (keep && ResumeKeptSession()) {
    if (Transaction(data_accepted)) return Accepted(keep);
    // A kept connection that turns out dead is no failure of this mail: it goes once more on a
    // fresh connection, and only that one's outcome counts. Once the server has taken DATA the
    // message may be on its way, and nothing may be sent twice.
    if (data_accepted || !LostConnection()) return Fail();
    CloseConnection();
    ResetDialogue();
  }
  if (!OpenSession()) return Fail();
  if (!Transaction(data_accepted)) return Fail();
  return Accepted(keep);
}

bool TSmtpSendMail::Transaction(bool& data_accepted) {
  data_accepted = false;
  if (!Command("MAIL FROM:" + FormatAddressList(OneLine(MailFrom), false) + "\r\n", 250)) {
    ExplainRefusedSender();
    return false;
  }
  if (!SendRecipients()) return false;
  if (!Command("DATA\r\n", 354)) return false;
  data_accepted = true;
  return SendMessage();
}

bool TSmtpSendMail::LostConnection() const {
  // 421: the server is closing the channel (RFC 5321, 3.8), as a server does to an idle client.
  return socket_ == INVALID_SOCKET || reply_code_ == 421 || LastError() == WSAECONNRESET ||
         LastError() == WSAECONNABORTED;
}

bool TSmtpSendMail::Accepted(bool keep) {
  if (OnMessageAccepted) OnMessageAccepted();
  // The server has taken responsibility for the message; how it answers QUIT (or whether it
  // simply hangs up) does not undo that.
  if (keep && KeepSession()) return true;
  if (SendText("QUIT\r\n")) ReadReply();
  const int error = LastError();
  CloseConnection();
  SetLastError(error);
  return true;
}

std::string TSmtpSendMail::KeptConnectionKey() const {
  std::string key;
  for (const std::string* part : {&RemoteHost, &RemotePort, &Security.ModeText, &Security.User,
                                  &Security.Password, &HeloName}) {
    key += *part;
    key += '\0';
  }
  key += Security.Verify ? '1' : '0';
  return key;
}

bool TSmtpSendMail::KeepSession() {
  // Bytes beyond the last reply would be taken as the answer to the next command.
  if (!received_.empty() || LastError() != 0 || state_ != kSocketConnected) return false;
  auto kept = std::make_unique<TKeptSmtpConnection>();
  kept->key = KeptConnectionKey();
  kept->socket.Reset(ReleaseConnection());
  kept->tls = std::move(tls_);
  kept->idle_since = MonotonicNow();
  KeepSmtpConnection(std::move(kept));
  return true;
}

bool TSmtpSendMail::ResumeKeptSession() {
  std::unique_ptr<TKeptSmtpConnection> kept = TakeKeptSmtpConnection(KeptConnectionKey());
  if (!kept) return false;
  AdoptConnection(kept->socket.Release());
  tls_ = std::move(kept->tls);
  logged_in_ = !Security.User.empty();
  // RSET starts the next mail from a clean state; a server that has gone away shows here, within
  // a short wait, leaving the rest of the time to a fresh connection.
  if (SendText("RSET\r\n") && ReadReply(std::min(deadline_, MonotonicNow() + kResetWait), true) &&
      reply_code_ == 250)
    return true;
  CloseConnection();
  ResetDialogue();
  return false;
}

void TSmtpSendMail::CloseConnection() {
  if (tls_ && socket_ != INVALID_SOCKET) tls_->Shutdown();
  tls_.reset();
  Disconnect();
}

bool TSmtpSendMail::SendText(const std::string& text) {
  if (!tls_) return TTCPClient::SendText(text);
  if (socket_ == INVALID_SOCKET) {
    if (text.empty()) return true;
    SocketError(WSAENOTCONN);
    return false;
  }
  if (tls_->Write(text, deadline_)) return true;
  if (tls_->TimedOut()) {
    SocketError(WSAETIMEDOUT);
  } else {
    failure_text_ = tls_->ErrorText();
    SocketError(WSAECONNRESET);
  }
  return false;
}

std::string TSmtpSendMail::Receive(bool& closed) {
  if (!tls_) return ReceiveText(socket_, &closed);
  std::string got = tls_->Read(closed);
  if (closed && !tls_->ErrorText().empty()) failure_text_ = tls_->ErrorText();
  return got;
}

bool TSmtpSendMail::Fail() {
  // Close without QUIT; whatever was sent of an unfinished message is discarded by the server.
  const int error = LastError();
  CloseConnection();
  SetLastError(error);
  message_.clear();
  return false;
}

bool TSmtpSendMail::OpenSession() {
  if (Security.Mode == TSmtpSecurityMode::kInvalid) {
    // A typing error must not quietly become plain text.
    failure_text_ = "SMTP_Security '";
    failure_text_ += Security.ModeText;
    failure_text_ += "' is not none, starttls or tls";
    return false;
  }
  Connect();
  if (!WaitForConnection()) return false;
  if (Security.Mode == TSmtpSecurityMode::kImplicitTls && !StartTlsSession()) return false;
  // The greeting's code is not judged (a refusing server refuses HELO too), but without any
  // greeting the session is over.
  if (!ReadGreeting()) return false;
  const std::string host = GreetingHost();
  if (Security.Extended()) return OpenExtendedSession(host);
  if (Command("HELO " + host + "\r\n", 250)) return true;
  if (socket_ == INVALID_SOCKET) return false;  // timed out or hung up: nothing to retry on
  return Command("HELO\r\n", 250);
}

bool TSmtpSendMail::WaitForConnection() {
  const TMonotonicTime until = std::min(MonotonicNow() + kConnectWait, deadline_);
  // Each address gets an equal share of what is left of the wait, so one that never answers
  // (a host whose IPv6 route goes nowhere) leaves time for the next.
  size_t left = AddressesLeft();
  TMonotonicTime attempt_until = MonotonicNow() + (until - MonotonicNow()) / (left + 1);
  // A failed connect of the last address ends the wait at once: waiting longer cannot help.
  while (state_ == kSocketConnecting && LastError() == 0 && MonotonicNow() < until) {
    if (AddressesLeft() != left) {  // the client moved on after a refusal
      left = AddressesLeft();
      attempt_until = MonotonicNow() + (until - MonotonicNow()) / (left + 1);
    }
    if (left > 0 && MonotonicNow() >= attempt_until) {
      if (!ConnectNextAddress()) break;
      continue;
    }
    const int wait = MillisecondsUntil(left > 0 ? attempt_until : until);
    const auto before = MonotonicNow();
    if (ProcessMessages(wait) == 0 && MonotonicNow() - before < std::chrono::milliseconds(1)) {
      // Nothing is registered to wait on (the pump returned at once): wait on the socket itself.
      WaitForSocket(socket_, TSocketWait::kWritable, std::min(wait, 100));
    }
  }
  if (state_ == kSocketConnected) return true;
  if (LastError() == 0) SocketError(WSAETIMEDOUT);
  return false;
}

std::string TSmtpSendMail::GreetingHost() const {
  return HeloName.empty() ? MachineName() : HeloName;
}

bool TSmtpSendMail::ReadReply(TMonotonicTime until, bool close_on_timeout) {
  reply_text_.clear();
  reply_code_ = -1;
  SetLastError(0);
  bool closed = false;
  for (;;) {
    const SmtpReplyScan scan = ScanSmtpReply(received_);
    if (scan.complete) {
      reply_text_ = received_.substr(0, scan.length);
      received_.erase(0, scan.length);
      reply_code_ = scan.code;
      return true;
    }
    if (socket_ == INVALID_SOCKET) {
      closed = true;
      break;
    }
    const std::string got = Receive(closed);
    if (!got.empty()) {
      received_ += got;
      continue;
    }
    if (closed || MonotonicNow() >= until) break;
    const int wait = MillisecondsUntil(until);
    const auto before = MonotonicNow();
    if (ProcessMessages(wait) == 0 && MonotonicNow() - before < std::chrono::milliseconds(1) &&
        socket_ != INVALID_SOCKET) {
      WaitForSocket(socket_, TSocketWait::kReadable, std::min(wait, 100));
    }
  }
  // No complete reply: what arrived of one is kept as its text.
  reply_text_ = received_;
  received_.clear();
  const int error = LastError();
  if (closed) {
    CloseConnection();
    SetLastError(error ? error : WSAECONNRESET);
  } else {
    reply_text_ = "SendMessage timeout";
    if (close_on_timeout) CloseConnection();
    SetLastError(error);
  }
  return false;
}

bool TSmtpSendMail::Command(const std::string& line, int expected, int also_expected) {
  if (!SendText(line)) return false;
  ReadReply();
  return reply_code_ == expected || (also_expected >= 0 && reply_code_ == also_expected);
}

bool TSmtpSendMail::SendRecipients() {
  for (const std::string* list : {&MailTo, &MailCC, &MailBCC}) {
    for (const MailAddress& a : ParseAddressList(OneLine(*list))) {
      if (!Command("RCPT TO:<" + a.address + ">\r\n", 250, 251)) return false;
    }
  }
  return true;
}

bool TSmtpSendMail::SendMessage() {
  const bool has_attachments = !Attachments.Empty();

  // The body is expanded first: its characters decide how the header declares it.
  message_.clear();
  const std::string body_template = MailBody.Text();
  if (OnBodyEntry) {
    ScanBodyEntries(
        body_template, [this](const std::string& name) { OnBodyEntry(name); },
        [this](std::string_view piece) { WriteBodyText(std::string(piece)); });
  } else {
    WriteBodyText(body_template);
  }
  std::string body;
  body.swap(message_);

  const MailHeaderValues values{MailTo, MailCC, MailBCC, MailFrom, MailSubject};
  MailHeaderText header = SortHeaderLines(MailHeader, has_attachments, values);
  // The declared charset is the one the body is really in: UTF-8 when it reads as UTF-8, else
  // Latin-1 (every byte is a Latin-1 character).
  std::string charset = "utf-8";
  if (HasHighBytes(body)) {
    if (IsValidUtf8(body)) {
      header.header = DeclareUtf8Charset(header.header);
      header.part_header = DeclareUtf8Charset(header.part_header);
    } else {
      charset = "iso-8859-1";
      header.header = DeclareLatin1Charset(header.header);
      header.part_header = DeclareLatin1Charset(header.part_header);
    }
  }
  HeaderFrame frame;
  frame.date = RfcDate(WallClockNow());
  frame.message_id = NewMessageId(GreetingHost());
  if (!Trim(ReplyTo).empty()) {
    frame.reply_to = FormatAddressListForHeader(OneLine(ReplyTo));
  }
  frame.charset = charset;
  const std::string expanded = ReplaceHeaderMacros(header.header, values);
  // The header that describes the text: the part header with attachments, else the message's.
  const std::string part_header =
      has_attachments ? WellFormedPartHeader(header.part_header, charset) : std::string();
  std::string top_header = has_attachments ? std::string() : WellFormedHeader(expanded, frame);
  const std::string& text_header = has_attachments ? part_header : top_header;
  if (DeclaresHtml(text_header)) {
    const std::string declared = DeclaredCharset(text_header);
    if (!declared.empty()) body = WithMetaCharset(body, declared);
  }
  if (DeclaresQuotedPrintable(text_header)) body = QuotedPrintableEncode(body);

  std::string boundary;
  if (has_attachments) {
    // Drawn for this message, and never found in the text part: a visitor cannot end the part.
    boundary = NewMimeBoundary(part_header + body);
    frame.content_type = "multipart/mixed; boundary=\"";
    frame.content_type += boundary;
    frame.content_type += '"';
    top_header = WellFormedHeader(expanded, frame);
  }

  TSmtpDataWriter out;
  out.Add(top_header);
  if (has_attachments) {
    out.Add("\r\nThis is a multipart message in MIME format\r\n\r\n--" + boundary + "\r\n");
    out.Add(part_header);
  }
  out.Add("\r\n");
  out.Add(body);
  body.clear();
  if (has_attachments && !AddAttachments(boundary, out)) return false;

  // The end of the data travels in the same write as the last bytes of the message.
  out.Finish();
  if (!SendText(out.Take())) return false;
  ReadReply();
  return reply_code_ == 250;
}
