#include "wizard/allowed_recipients.h"

#include "common/exception.h"
#include "common/guard_settings.h"
#include "common/options.h"
#include "common/profile_file.h"
#include "common/text_compare.h"

namespace {

constexpr const char* kAllowedRecipientsKey = "Allowed_Recipients";

bool Contains(const std::vector<std::string>& list, std::string_view entry) {
  for (const std::string& item : list) {
    if (SameText(item, entry)) return true;
  }
  return false;
}

bool IsSpaceOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

std::vector<std::string> AddressesOf(std::string_view list) {
  std::vector<std::string> addresses;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find_first_of(",;", start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view item = list.substr(start, end - start);
    while (!item.empty() && IsSpaceOrControl(item.back())) item.remove_suffix(1);
    std::size_t from = item.size();
    while (from > 0 && !IsSpaceOrControl(item[from - 1]) && item[from - 1] != '<') --from;
    std::string address;
    for (char c : item.substr(from)) {
      if (c != '<' && c != '>') address += c;
    }
    if (!address.empty()) addresses.push_back(std::move(address));
    start = end + 1;
  }
  return addresses;
}

std::vector<std::string> EnteredRecipients(const WizardSettings& settings) {
  std::vector<std::string> entered;
  for (const std::string* list : {&settings.Mail_To, &settings.Mail_CC, &settings.Mail_BCC}) {
    for (std::string& address : AddressesOf(*list)) {
      if (!Contains(entered, address)) entered.push_back(std::move(address));
    }
  }
  return entered;
}

std::string MergeAllowedRecipients(std::string_view existing,
                                   const std::vector<std::string>& addresses) {
  std::vector<std::string> entries = SplitSettingList(existing);
  for (const std::string& address : addresses) {
    if (!Contains(entries, address)) entries.push_back(address);
  }
  std::string merged;
  for (const std::string& entry : entries) {
    if (!merged.empty()) merged += ", ";
    merged += entry;
  }
  return merged;
}

std::string AllowedRecipientsNote(const std::vector<std::string>& addresses) {
  if (addresses.empty()) return {};
  std::string note =
      "The gateway sends only to addresses that brevix.ini on the server allows. List these in "
      "its Allowed_Recipients (or Mail_To, Mail_CC, Mail_BCC): ";
  note += MergeAllowedRecipients("", addresses);
  return note;
}

TAllowedRecipientsUpdate PlanAllowedRecipients(const std::string& ini_file_name,
                                               const WizardSettings& settings) {
  const std::string existing =
      ReadProfileString(ini_file_name, kOptionsSection, kAllowedRecipientsKey, "");
  const std::vector<std::string> entered = EnteredRecipients(settings);
  const std::vector<std::string> listed = SplitSettingList(existing);
  bool all_listed = true;
  for (const std::string& address : entered) all_listed = all_listed && Contains(listed, address);
  if (all_listed) return {};
  TAllowedRecipientsUpdate update{true, MergeAllowedRecipients(existing, entered)};
  if (update.value.size() > kMaxProfileValue) {
    std::string message = "Allowed_Recipients would be longer than ";
    message += std::to_string(kMaxProfileValue);
    message += " characters; shorten it in ";
    message += ini_file_name;
    throw Exception(message);
  }
  return update;
}

void SaveAllowedRecipients(const std::string& ini_file_name,
                           const TAllowedRecipientsUpdate& update) {
  if (!update.changed) return;
  WriteProfileString(ini_file_name, kOptionsSection, kAllowedRecipientsKey, update.value);
}
