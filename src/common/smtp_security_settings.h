#pragma once

#include <string>
#include <string_view>

#include "common/profile_file.h"

// How the gateway reaches its mail server: TLS and the login, read from section "Options" of
// "brevix.ini". These keys belong to the site owner alone: no form field can set them, and the
// wizard's Save keeps them as lines it does not know. SMTP_Password is a secret: brevix.ini should
// be readable only by the web server's user.
//
//   SMTP_Security  none (default: plain SMTP, HELO, no TLS) | starttls | tls (implicit TLS, as on
//                  port 465); without regard to case. Any other value makes every send fail with
//                  a clear text rather than fall back to plain text.
//   SMTP_User      the login; empty (default) = no AUTH.
//   SMTP_Password  its password.
//   SMTP_Verify    1 (default): the server's certificate must chain to the system's trust store
//                  and name the host; 0 accepts any certificate (a self-signed local server).
//   SMTP_Keep_Alive 1 (default): a resident process keeps its connection to the server between
//                  submissions (RSET between mails); 0 opens one connection per mail.
enum class TSmtpSecurityMode { kNone, kStartTls, kImplicitTls, kInvalid };

struct TSmtpSecuritySettings {
  TSmtpSecurityMode Mode = TSmtpSecurityMode::kNone;
  // The value of SMTP_Security as written, for the error text of an invalid one.
  std::string ModeText;
  std::string User;
  std::string Password;
  bool Verify = true;
  bool KeepAlive = true;

  // Reads the five keys from `ini_file_name`; a missing file or key leaves the default.
  void Load(const std::string& ini_file_name);
  // The same from a settings file already read.
  void Load(const TProfileFile& file);

  // True when the dialogue goes beyond today's plain HELO one (TLS or a login).
  bool Extended() const { return Mode != TSmtpSecurityMode::kNone || !User.empty(); }
};

// The mode named by an SMTP_Security value (trimmed, any case); empty is kNone.
TSmtpSecurityMode ParseSmtpSecurityMode(std::string_view value);
