#include "wizard/ini_overrides.h"

#include "common/options.h"
#include "common/profile_file.h"

std::vector<TIniOverride> IniOverrides(const WizardSettings& shown, const TBXOptions& ini) {
  std::vector<TIniOverride> overrides;
  if (!shown.Send_Receipt && !ini.Receipt_Text.empty()) {
    overrides.push_back({"Receipt_Text", "No receipt", ini.Receipt_Text});
  }
  if (!shown.Save_Results && !ini.Results_File.empty()) {
    overrides.push_back({"Results_File", "No results file", ini.Results_File});
  }
  return overrides;
}

std::string IniOverridesNote(const std::vector<TIniOverride>& overrides) {
  std::string note;
  for (const TIniOverride& o : overrides) {
    if (!note.empty()) note += "\n";
    note += "\"" + o.choice + "\" cannot be set by a form: brevix.ini sets " + o.key + "=" +
            o.configured + ", which the gateway uses whenever the form sends none (" +
            (o.key == "Receipt_Text" ? "a receipt is still sent" : "results are still saved") +
            ").";
  }
  if (!note.empty()) {
    note += " \"Write into brevix.ini\" empties it there, for every form of the site.";
  }
  return note;
}

void WriteChoicesToIni(const std::string& ini_file_name,
                       const std::vector<TIniOverride>& overrides) {
  if (overrides.empty()) return;
  TProfileFile file(ini_file_name);
  for (const TIniOverride& o : overrides) file.WriteString(kOptionsSection, o.key, "");
  file.UpdateFile();
}
