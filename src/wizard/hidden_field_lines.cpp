#include "wizard/hidden_field_lines.h"

#include "common/html_escape.h"
#include "wizard/pow_settings.h"

std::string HiddenFieldLine(std::string_view name, std::string_view value) {
  std::string line = "<input type=\"hidden\" name=\"";
  line += HtmlEscape(name);
  line += "\" value=\"";
  line += HtmlEscape(value);
  line += "\">";
  return line;
}

TStringList HiddenFieldLines(const WizardSettings& shown) {
  const WizardSettings s = ChosenSettings(shown);
  TStringList lines;
  auto if_set = [&lines](std::string_view name, const std::string& value) {
    if (!value.empty()) lines.Add(HiddenFieldLine(name, value));
  };
  auto yes_no = [&lines](std::string_view name, bool checked) {
    lines.Add(HiddenFieldLine(name, checked ? "yes" : "no"));
  };
  lines.Add(HiddenFieldLine("send", "yes"));
  if_set("mail_to", s.Mail_To);
  if_set("mail_from", s.Mail_From);
  if_set("mail_subject", s.Mail_Subject);
  if_set("mail_cc", s.Mail_CC);
  if_set("mail_bcc", s.Mail_BCC);
  if_set("response_page", s.Response_Page);
  if_set("message_text", s.Message_Text);
  if_set("error_page", s.Error_Page);
  if_set("info_missing_page", s.Info_Missing_Page);
  if_set("smtp_server", s.SMTP_Server);
  if_set("smtp_port", s.SMTP_Port);
  if_set("attached_file", s.Attached_File);
  if_set("receipt_from", s.Receipt_From);
  if_set("receipt_to", s.Receipt_To);
  if_set("receipt_subject", s.Receipt_Subject);
  if_set("receipt_text", s.Receipt_Text);
  if_set("entry_log", s.Entry_Log);
  yes_no("use_asterisks", s.Use_Asterisks);
  // Written with its capitals, as it always has been; field names match without regard to case.
  yes_no("Mail_From_Required", s.Mail_From_Required);
  // Without saved results the form says nothing about them, this box included.
  if (s.Save_Results) yes_no("delete_results_file", s.Delete_Results_File);
  if_set("date_format", s.Date_Format);
  if_set("time_format", s.Time_Format);
  if_set("results_file", s.Results_File);
  if_set("results_file_template", s.Results_File_Template);
  lines.Add(HiddenFieldLine("default_format", DefaultFormatName(s.DefaultFormatIndex)));
  for (const std::string& line : PowWidgetLines(s)) lines.Add(line);
  return lines;
}
