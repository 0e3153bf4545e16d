#pragma once
#include <string>
#include <utility>
#include <vector>

#include "wizard/wizard_settings.h"

// How the gateway reaches its mail server and whom its mails come from: SMTP_Security,
// SMTP_User, SMTP_Password, SMTP_Verify and Mail_Sender of section "Options" of brevix.ini.
// The gateway reads these from brevix.ini alone (no form field can set them), so the wizard
// never puts them into the hidden-field HTML; the defaults task writes them beside the keys of
// TBXOptions::Save; who may read brevix.ini is ini_file_access.h's business.

// The entries of the SMTP_Security choice, in the order they are offered.
inline constexpr const char* kSmtpSecurityChoices[] = {"none", "starttls", "tls"};

// The five keys of `ini_file_name` copied into `settings`; a missing file or key gives the
// gateway's default ("" for the texts, "none" for SMTP_Security, true for SMTP_Verify).
void LoadMailServerSettings(const std::string& ini_file_name, WizardSettings& settings);

// What a save of `settings` changes in `ini_file_name`: the keys whose value differs from what
// the gateway reads there now (a key that is absent and left at its default stays absent, and
// a file that agrees is not rewritten).
struct TMailServerUpdate {
  std::vector<std::pair<std::string, std::string>> changes;  // key, value as written
};

// Plans the save. Throws Exception naming the key when a value would not read back as typed
// (blanks or control characters at its ends, a line break, more than kMaxProfileValue
// characters): a password read back changed would only show as a failed login much later. The
// message never repeats the value.
TMailServerUpdate PlanMailServerSettings(const std::string& ini_file_name,
                                         const WizardSettings& settings);

// Carries out a planned update: the changed keys are written in one replace of the file, which
// keeps the file's mode and group (the caller restricts them first, ShareWithWebServerGroup).
// Throws Exception("Unable to write to <name>") as the settings file's writer does.
void SaveMailServerSettings(const std::string& ini_file_name, const TMailServerUpdate& update);

// The port hint beside smtp_port for an SMTP_Security choice: "(Standard for starttls is 587)",
// "(Standard for tls is 465)", "(Standard for none is 25)"; an unknown choice gets the plain one.
std::string StandardPortHint(const std::string& security);

// The warning shown before saving when the login's password would cross the network in clear,
// which the gateway refuses (it then sends no mail at all):
// SMTP_Security "none", an SMTP_User, and a server that is not this machine (localhost,
// 127.0.0.0/8, ::1). Empty when there is nothing to warn about.
std::string CleartextLoginWarning(const WizardSettings& settings);
