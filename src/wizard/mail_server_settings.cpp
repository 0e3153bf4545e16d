#include "wizard/mail_server_settings.h"

#include "common/exception.h"
#include "common/options.h"
#include "common/profile_file.h"
#include "common/smtp_security_settings.h"
#include "common/text_compare.h"

namespace {

constexpr const char* kSecurityKey = "SMTP_Security";
constexpr const char* kUserKey = "SMTP_User";
constexpr const char* kPasswordKey = "SMTP_Password";
constexpr const char* kVerifyKey = "SMTP_Verify";
constexpr const char* kSenderKey = "Mail_Sender";

bool Verifies(const std::string& value) {
  return ParseProfileInteger(value, 1) != 0;
}

// True when the profile reader gives `value` back exactly as written.
bool ReadsBackAsTyped(const std::string& value) {
  if (value.size() > kMaxProfileValue) return false;
  if (Trim(value) != value) return false;
  for (char c : value) {
    if (c == '\r' || c == '\n') return false;
  }
  return true;
}

void CheckStorable(const char* key, const std::string& value) {
  if (ReadsBackAsTyped(value)) return;
  std::string message = key;
  message +=
      " cannot be kept in brevix.ini as typed: it may not begin or end with a blank, "
      "hold a line break or be longer than ";
  message += std::to_string(kMaxProfileValue);
  message += " characters";
  throw Exception(message);
}

}  // namespace

void LoadMailServerSettings(const std::string& ini_file_name, WizardSettings& settings) {
  const TProfileFile file(ini_file_name);
  settings.SMTP_Security = file.ReadString(kOptionsSection, kSecurityKey, "");
  if (settings.SMTP_Security.empty()) settings.SMTP_Security = kSmtpSecurityChoices[0];
  settings.SMTP_User = file.ReadString(kOptionsSection, kUserKey, "");
  settings.SMTP_Password = file.ReadString(kOptionsSection, kPasswordKey, "");
  settings.SMTP_Verify = Verifies(file.ReadString(kOptionsSection, kVerifyKey, ""));
  settings.Mail_Sender = file.ReadString(kOptionsSection, kSenderKey, "");
}

TMailServerUpdate PlanMailServerSettings(const std::string& ini_file_name,
                                         const WizardSettings& settings) {
  const std::string verify = settings.SMTP_Verify ? "1" : "0";
  const std::pair<const char*, const std::string*> texts[] = {
      {kSecurityKey, &settings.SMTP_Security}, {kUserKey, &settings.SMTP_User},
      {kPasswordKey, &settings.SMTP_Password}, {kVerifyKey, &verify},
      {kSenderKey, &settings.Mail_Sender},
  };
  for (const auto& [key, value] : texts) CheckStorable(key, *value);

  const TProfileFile file(ini_file_name);
  TMailServerUpdate update;
  for (const auto& [key, value] : texts) {
    const std::string now = file.ReadString(kOptionsSection, key, "");
    bool same = now == *value;
    // The gateway reads these by meaning: "STARTTLS" is "starttls", and no key is its default.
    if (key == kSecurityKey) {
      const TSmtpSecurityMode mode = ParseSmtpSecurityMode(*value);
      same =
          mode == TSmtpSecurityMode::kInvalid ? now == *value : mode == ParseSmtpSecurityMode(now);
    } else if (key == kVerifyKey) {
      same = Verifies(now) == settings.SMTP_Verify;
    }
    if (!same) update.changes.emplace_back(key, *value);
  }
  return update;
}

void SaveMailServerSettings(const std::string& ini_file_name, const TMailServerUpdate& update) {
  if (update.changes.empty()) return;
  TProfileFile file(ini_file_name);
  for (const auto& [key, value] : update.changes) file.WriteString(kOptionsSection, key, value);
  file.UpdateFile();
}

std::string StandardPortHint(const std::string& security) {
  switch (ParseSmtpSecurityMode(security)) {
    case TSmtpSecurityMode::kStartTls:
      return "(Standard for starttls is 587)";
    case TSmtpSecurityMode::kImplicitTls:
      return "(Standard for tls is 465)";
    case TSmtpSecurityMode::kNone:
      return "(Standard for none is 25)";
    case TSmtpSecurityMode::kInvalid:
      break;
  }
  return "(Standard is 25, 587 with starttls, 465 with tls)";
}

std::string CleartextLoginWarning(const WizardSettings& settings) {
  const std::string server = LowerCase(Trim(settings.SMTP_Server));
  const bool loopback = server.empty() || server == "localhost" || server == "::1" ||
                        server == "[::1]" || server.rfind("127.", 0) == 0;
  if (ParseSmtpSecurityMode(settings.SMTP_Security) != TSmtpSecurityMode::kNone ||
      Trim(settings.SMTP_User).empty() || loopback) {
    return {};
  }
  return "SMTP_Security is none, so the password of " + settings.SMTP_User + " would travel to " +
         settings.SMTP_Server +
         " unencrypted. The gateway refuses that: it will not log in there, and every mail "
         "fails (\"Refusing to send the password over an unencrypted connection to a "
         "non-loopback server\"). Choose starttls (port 587) or tls (port 465).";
}
