#include "wizard/pow_settings.h"

#include "common/exception.h"
#include "common/options.h"
#include "common/profile_file.h"
#include "common/text_compare.h"

namespace {

constexpr const char* kKey = "PoW_Key";
constexpr const char* kMaxNumberKey = "PoW_Max_Number";

bool WholeNumberInRange(const std::string& text) {
  if (text.empty() || text.size() > 10) return false;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 0xffffffffULL;
}

}  // namespace

void LoadPowSettings(const std::string& ini_file_name, WizardSettings& settings) {
  const TProfileFile file(ini_file_name);
  settings.PoW_Key = file.ReadString(kOptionsSection, kKey, "");
  settings.PoW_Max_Number = file.ReadString(kOptionsSection, kMaxNumberKey, "");
}

void PlanPowSettings(const std::string& ini_file_name, const WizardSettings& settings,
                     TMailServerUpdate& update) {
  for (char c : settings.PoW_Key) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f || c == ';') {
      throw Exception("PoW_Key cannot be kept in brevix.ini as typed: use letters and digits");
    }
  }
  if (!settings.PoW_Max_Number.empty() && !WholeNumberInRange(settings.PoW_Max_Number)) {
    throw Exception("PoW_Max_Number must be a whole number from 1 to 4294967295");
  }
  const TProfileFile file(ini_file_name);
  for (const auto& [key, value] :
       {std::pair{kKey, &settings.PoW_Key}, std::pair{kMaxNumberKey, &settings.PoW_Max_Number}}) {
    if (file.ReadString(kOptionsSection, key, "") != *value)
      update.changes.emplace_back(key, *value);
  }
}

TStringList PowWidgetLines(const WizardSettings& settings) {
  TStringList lines;
  if (settings.PoW_Key.empty()) return lines;
  lines.Add(
      "<altcha-widget challenge=\"brevix.cgi?pow=challenge\" "
      "challengeurl=\"brevix.cgi?pow=challenge\" name=\"altcha\" "
      "auto=\"onsubmit\"></altcha-widget>");
  lines.Add("<script src=\"altcha/altcha.min.js\" defer></script>");
  return lines;
}
