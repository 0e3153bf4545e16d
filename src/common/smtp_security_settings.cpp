#include "common/smtp_security_settings.h"

#include "common/options.h"
#include "common/profile_file.h"
#include "common/text_compare.h"

TSmtpSecurityMode ParseSmtpSecurityMode(std::string_view value) {
  const std::string mode = Trim(value);
  if (mode.empty() || SameText(mode, "none")) return TSmtpSecurityMode::kNone;
  if (SameText(mode, "starttls")) return TSmtpSecurityMode::kStartTls;
  if (SameText(mode, "tls")) return TSmtpSecurityMode::kImplicitTls;
  return TSmtpSecurityMode::kInvalid;
}

void TSmtpSecuritySettings::Load(const std::string& ini_file_name) {
  Load(TProfileFile(ini_file_name));
}

void TSmtpSecuritySettings::Load(const TProfileFile& file) {
  ModeText = Trim(file.ReadString(kOptionsSection, "SMTP_Security", ""));
  Mode = ParseSmtpSecurityMode(ModeText);
  User = file.ReadString(kOptionsSection, "SMTP_User", "");
  Password = file.ReadString(kOptionsSection, "SMTP_Password", "");
  Verify = ParseProfileInteger(file.ReadString(kOptionsSection, "SMTP_Verify", ""), 1) != 0;
  KeepAlive = ParseProfileInteger(file.ReadString(kOptionsSection, "SMTP_Keep_Alive", ""), 1) != 0;
}
