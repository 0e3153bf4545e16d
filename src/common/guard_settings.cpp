#include "common/guard_settings.h"

#include "common/exception.h"
#include "common/options.h"
#include "common/profile_file.h"
#include "common/text_compare.h"
#include "platform/file_system.h"
#include "platform/system_random.h"

namespace {

long long ReadCount(const TProfileFile& file, const char* key, long long default_value) {
  const long long value = ParseProfileInteger(file.ReadString(kOptionsSection, key, ""), -1);
  return value < 0 ? default_value : value;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

void TGuardSettings::Load(const std::string& ini_file_name) {
  Load(TProfileFile(ini_file_name));
}

void TGuardSettings::Load(const TProfileFile& file) {
  IniFound = file.ReadFromFile() || IsRegularFile(file.FileName());
  AllowedFormFiles = SplitSettingList(file.ReadString(kOptionsSection, "Allowed_Form_Files", ""));
  AllowedSMTPServers =
      SplitSettingList(file.ReadString(kOptionsSection, "Allowed_SMTP_Servers", ""));
  AllowedRecipients = SplitSettingList(file.ReadString(kOptionsSection, "Allowed_Recipients", ""));
  MaxRecipients = ReadCount(file, "Max_Recipients", 10);
  MaxReceiptsPerHour = ReadCount(file, "Max_Receipts_Per_Hour", 5);
  HoneypotField = file.ReadString(kOptionsSection, "Honeypot_Field", "");
  MaxPerHour = ReadCount(file, "Max_Per_Hour", 0);
  const long long prefix = ReadCount(file, "Limit_IPv6_Prefix", 64);
  LimitIPv6Prefix = prefix > 128 ? 64 : static_cast<int>(prefix);
  MaxRequestSize = LoadMaxRequestSize(file);
  MailSender = Trim(file.ReadString(kOptionsSection, "Mail_Sender", ""));
  AllowedOrigins = SplitSettingList(file.ReadString(kOptionsSection, "Allowed_Origins", ""));
  AllowedRedirects = SplitSettingList(file.ReadString(kOptionsSection, "Allowed_Redirects", ""));
  MailOnGet = false;
  for (const std::string& method :
       SplitSettingList(file.ReadString(kOptionsSection, "Allowed_Methods", "POST"))) {
    MailOnGet = MailOnGet || UpperCase(method) == "GET";
  }
  PoWKey = Trim(file.ReadString(kOptionsSection, "PoW_Key", ""));
  PoWField = Trim(file.ReadString(kOptionsSection, "PoW_Field", ""));
  if (PoWField.empty()) PoWField = "altcha";
  PoWMaxNumber = ReadCount(file, "PoW_Max_Number", 0);
  // A counter above 2^32 - 1 cannot be sent by the widget's solver.
  if (PoWMaxNumber <= 0 || PoWMaxNumber > 0xffffffffLL) PoWMaxNumber = 50000;
  PoWExpires = ReadCount(file, "PoW_Expires", 0);
  if (PoWExpires <= 0) PoWExpires = 600;
}

long long TGuardSettings::LoadMaxRequestSize(const TProfileFile& file) {
  return ReadCount(file, "Max_Request_Size", TGuardSettings{}.MaxRequestSize);
}

std::vector<std::string> SplitSettingList(std::string_view value) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(',', start);
    if (end == std::string_view::npos) end = value.size();
    std::string entry = Trim(value.substr(start, end - start));
    if (!entry.empty()) entries.push_back(std::move(entry));
    start = end + 1;
  }
  return entries;
}

bool MatchesNamePattern(std::string_view pattern, std::string_view name) {
  // Iterative wildcard matching with one back-tracking point: linear in practice and never
  // exponential, whatever a pattern holds.
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string NewPowKey() {
  char bytes[32];
  if (FillSystemRandom(bytes, sizeof bytes, true) != sizeof bytes) {
    throw Exception("No random numbers for a new PoW_Key");
  }
  return HexText(std::string_view(bytes, sizeof bytes));
}
