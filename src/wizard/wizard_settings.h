#pragma once
#include <string>

class TBXOptions;

// The values that the wizard's pages show, one member per control, named after the setting of
// "brevix.ini" that the control edits. The window copies its controls into and out of this
// record; the record is what the options file and the hidden-field HTML are made from, so both
// can be checked without a window.
struct WizardSettings {
  std::string Mail_To;                // txtmail_to
  std::string Mail_From;              // txtmail_from
  std::string Mail_Subject;           // txtmail_subject
  std::string Mail_CC;                // txtmail_cc
  std::string Mail_BCC;               // txtmail_bcc
  std::string Attached_File;          // txtattached_file
  std::string Message_Text;           // txtmessage_text
  std::string Response_Page;          // txtresponse_page
  std::string Error_Page;             // txterror_page
  std::string Info_Missing_Page;      // txtinfo_missing_page
  std::string Receipt_To;             // txtReceipt_to
  std::string Receipt_From;           // txtreceipt_from
  std::string Receipt_Subject;        // txtreceipt_subject
  std::string Receipt_Text;           // txtreceipt_text
  std::string SMTP_Server;            // txtsmtp_server
  std::string SMTP_Port;              // txtsmtp_port
  std::string Entry_Log;              // txtlog_file
  std::string Date_Format;            // txtdate_format
  std::string Time_Format;            // txttime_format
  std::string Results_File;           // txtResults_File
  std::string Results_File_Template;  // txtResults_File_Template
  bool Use_Asterisks = false;         // chkUse_Asterisks
  bool Mail_From_Required = false;    // chkMail_From_Required
  bool Delete_Results_File = false;   // chkDelete_Results_File
  int DefaultFormatIndex = -1;        // LstDefault_Format: 0 to 5, or -1 when nothing is selected
  // The owner's answers on PgAskRcpt and PGAskFormResults. A "No" keeps what the fields of the
  // declined page hold (the owner may go back and say "Yes"), but nothing of them goes out.
  bool Send_Receipt = true;  // rdoSendReceipt
  bool Save_Results = true;  // RDOSaveResults
  // The mail server's TLS and login, and the site's sender: kept in brevix.ini alone, never in
  // the hidden fields (mail_server_settings.h). Options neither reads nor writes them.
  std::string SMTP_Security = "none";  // cbosmtp_security
  std::string SMTP_User;               // txtsmtp_user
  std::string SMTP_Password;           // txtsmtp_password
  bool SMTP_Verify = true;             // chksmtp_verify
  std::string Mail_Sender;             // txtmail_sender
  std::string PoW_Key;                 // txtpow_key (pow_settings.h)
  std::string PoW_Max_Number;          // cbopow_max_number
};

// What the owner chose: `settings` with the receipt fields emptied when no receipt is wanted,
// and the results fields emptied and Delete_Results_File cleared when results are not saved, so
// that the gateway neither sends a declined receipt (it sends one whenever Receipt_Text is set)
// nor keeps declined results. The brevix.ini of the defaults task and the hidden-field lines are
// both made from this.
WizardSettings ChosenSettings(WizardSettings settings);

// OptionsToControls without the controls: every shown setting of `options`, and the entry of
// LstDefault_Format that its FormatKind() names.
WizardSettings SettingsFromOptions(const TBXOptions& options);

// ControlsToOptions without the controls: copies every chosen setting (ChosenSettings) into
// `options`, texts as typed; SetFormatKind receives the selected entry, or 1 when none is selected.
// Settings the wizard does not show (Macro_Delimiter, ...) keep the values they were loaded with.
void SettingsToOptions(const WizardSettings& settings, TBXOptions& options);

// The format name of a LstDefault_Format entry (0 "BX1ColTextNoLabel" ... 5 "BXCSV"); empty for
// any other index, which includes "nothing selected".
std::string DefaultFormatName(int index);
