#include "wizard/wizard_settings.h"

#include <array>

#include "common/options.h"

namespace {

// Each shown text setting once, so that the two directions cannot drift apart.
template <typename Settings, typename Options, typename Fn>
void ForEachText(Settings& s, Options& o, Fn fn) {
  fn(s.Mail_To, o.Mail_To);
  fn(s.Mail_From, o.Mail_From);
  fn(s.Mail_Subject, o.Mail_Subject);
  fn(s.Mail_CC, o.Mail_CC);
  fn(s.Mail_BCC, o.Mail_BCC);
  fn(s.Attached_File, o.Attached_File);
  fn(s.Message_Text, o.Message_Text);
  fn(s.Response_Page, o.Response_Page);
  fn(s.Error_Page, o.Error_Page);
  fn(s.Info_Missing_Page, o.Info_Missing_Page);
  fn(s.Receipt_To, o.Receipt_To);
  fn(s.Receipt_From, o.Receipt_From);
  fn(s.Receipt_Subject, o.Receipt_Subject);
  fn(s.Receipt_Text, o.Receipt_Text);
  fn(s.SMTP_Server, o.SMTP_Server);
  fn(s.SMTP_Port, o.SMTP_Port);
  fn(s.Entry_Log, o.Entry_Log);
  fn(s.Date_Format, o.Date_Format);
  fn(s.Time_Format, o.Time_Format);
  fn(s.Results_File, o.Results_File);
  fn(s.Results_File_Template, o.Results_File_Template);
}

constexpr std::array<const char*, 6> kFormatNames = {
    "BX1ColTextNoLabel", "BX1ColTextLabel", "BX1ColHTMLNoLabel",
    "BX2ColHTMLNoLabel", "BX2ColHTMLLabel", "BXCSV",
};

}  // namespace

WizardSettings SettingsFromOptions(const TBXOptions& options) {
  WizardSettings settings;
  ForEachText(settings, options, [](std::string& to, const std::string& from) { to = from; });
  settings.Use_Asterisks = options.Use_Asterisks;
  settings.Mail_From_Required = options.Mail_From_Required;
  settings.Delete_Results_File = options.Delete_Results_File;
  settings.DefaultFormatIndex = options.FormatKind();
  return settings;
}

WizardSettings ChosenSettings(WizardSettings settings) {
  if (!settings.Send_Receipt) {
    settings.Receipt_To.clear();
    settings.Receipt_From.clear();
    settings.Receipt_Subject.clear();
    settings.Receipt_Text.clear();
  }
  if (!settings.Save_Results) {
    settings.Results_File.clear();
    settings.Results_File_Template.clear();
    settings.Delete_Results_File = false;
  }
  return settings;
}

void SettingsToOptions(const WizardSettings& shown, TBXOptions& options) {
  const WizardSettings settings = ChosenSettings(shown);
  ForEachText(settings, options, [](const std::string& from, std::string& to) { to = from; });
  options.Use_Asterisks = settings.Use_Asterisks;
  options.Mail_From_Required = settings.Mail_From_Required;
  options.Delete_Results_File = settings.Delete_Results_File;
  options.SetFormatKind(settings.DefaultFormatIndex < 0 ? 1 : settings.DefaultFormatIndex);
}

std::string DefaultFormatName(int index) {
  if (index < 0 || index >= static_cast<int>(kFormatNames.size())) return {};
  return kFormatNames[static_cast<size_t>(index)];
}
