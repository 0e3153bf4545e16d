#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "wizard/wizard_settings.h"

// The addresses a form may send to. The gateway refuses a recipient that a form's mail_to,
// mail_cc or mail_bcc names unless brevix.ini on the server lists it in Mail_To, Mail_CC,
// Mail_BCC or Allowed_Recipients. The defaults task therefore lists the addresses the owner
// entered in Allowed_Recipients, and the hidden-field window names the addresses that the
// server's brevix.ini must allow.

// The bare addresses of an address list as the gateway reads it: items separated by "," or ";",
// each a bare address or a display name followed by the address ("Jane Doe <jd@x.org>"); the
// address is what follows the item's last blank or "<", without "<" and ">". Empty items go.
std::vector<std::string> AddressesOf(std::string_view list);

// The addresses of Mail_To, Mail_CC and Mail_BCC of `settings`, in that order, each once
// (compared without regard to case).
std::vector<std::string> EnteredRecipients(const WizardSettings& settings);

// `existing` (an Allowed_Recipients value) with every one of `addresses` appended that it does
// not list yet (compared without regard to case), entries joined by ", ". Entries the owner
// wrote by hand, "@domain" ones included, stay as they were.
std::string MergeAllowedRecipients(std::string_view existing,
                                   const std::vector<std::string>& addresses);

// What the hidden-field window tells the owner about `addresses` (those the form names): which
// of them brevix.ini on the server must allow. Empty when there are none.
std::string AllowedRecipientsNote(const std::vector<std::string>& addresses);

// The Allowed_Recipients value that `ini_file_name` should hold after a save of `settings`, or
// nothing to change when the addresses are all listed already. Throws Exception when the list
// would not fit in one settings line (it would be read back cut short).
struct TAllowedRecipientsUpdate {
  bool changed = false;
  std::string value;
};
TAllowedRecipientsUpdate PlanAllowedRecipients(const std::string& ini_file_name,
                                               const WizardSettings& settings);

// Writes a planned update into section "Options" of `ini_file_name`; nothing when unchanged.
// Throws Exception("Unable to write to <name>") as the settings file's writer does; the file is
// then left as it was.
void SaveAllowedRecipients(const std::string& ini_file_name,
                           const TAllowedRecipientsUpdate& update);
