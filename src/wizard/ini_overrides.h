#pragma once
#include <string>
#include <vector>

#include "wizard/wizard_settings.h"

class TBXOptions;

// Choices of the hidden-fields task that a form cannot make. The gateway takes a setting from
// brevix.ini whenever the form sends no value for it, and an empty field is no value: a form
// made with "No receipt" still gets the receipt that brevix.ini's Receipt_Text sets up, and
// one made with "No results file" still writes brevix.ini's Results_File.
struct TIniOverride {
  std::string key;         // the key of brevix.ini that decides ("Receipt_Text")
  std::string choice;      // the owner's choice as the wizard calls it ("No receipt")
  std::string configured;  // what brevix.ini holds for the key
};

// The declined receipt and results of `shown` that `ini` still sets up, in that order.
std::vector<TIniOverride> IniOverrides(const WizardSettings& shown, const TBXOptions& ini);

// The note shown beside the hidden fields: one sentence per override, saying what the gateway
// will do instead and how to change it. Empty for no overrides.
std::string IniOverridesNote(const std::vector<TIniOverride>& overrides);

// Writes the choices into brevix.ini instead: each override's key emptied in `ini_file_name`,
// so no form of the site gets that receipt or results file unless it names one itself.
// Throws Exception("Unable to write to <name>") as the settings file's writer does.
void WriteChoicesToIni(const std::string& ini_file_name,
                       const std::vector<TIniOverride>& overrides);
