#pragma once

#include <string>

#include "common/guard_settings.h"  // NewPowKey
#include "common/string_list.h"
#include "wizard/mail_server_settings.h"
#include "wizard/wizard_settings.h"

// The gateway's anti-spam proof of work as the owner sets it on PGSMTP: PoW_Key (the secret
// that signs the challenges; empty is off) and PoW_Max_Number (the difficulty) of section
// "Options" of brevix.ini. Like the mail server's login they are read from brevix.ini alone, so
// the defaults task saves them there; the hidden-field HTML gets the widget that solves the
// challenges instead (PowWidgetLines).

// The difficulties offered, as PoW_Max_Number values: a browser tries half the number on
// average; the gateway's default is the second.
inline constexpr const char* kPowDifficulties[] = {"20000", "50000", "150000", "500000"};

// The two keys of `ini_file_name` copied into `settings` ("" when absent).
void LoadPowSettings(const std::string& ini_file_name, WizardSettings& settings);

// Adds to `update` the two keys whose value differs from what the file holds now. Throws
// Exception naming the key when a value would not read back as typed, or when PoW_Max_Number
// is neither empty nor a whole number from 1 to 4294967295.
void PlanPowSettings(const std::string& ini_file_name, const WizardSettings& settings,
                     TMailServerUpdate& update);

// The lines a form needs for the widget when `settings` has a key, else none: the
// <altcha-widget> element asking the gateway beside the page (brevix.cgi?pow=challenge) and the
// widget's script, served from the site (the sample's altcha/ folder).
TStringList PowWidgetLines(const WizardSettings& settings);
