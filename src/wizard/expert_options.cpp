// The wizard window's controls <-> the settings of brevix.ini, and the date and time previews.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include "common/date_time_format.h"
#include "common/options.h"
#include "common/smtp_security_settings.h"
#include "wizard/expert_window.h"
#include "wizard/mail_server_settings.h"
#include "wizard/pow_settings.h"
#include "wizard/qt_text.h"

std::vector<std::pair<std::string WizardSettings::*, QLineEdit*>> Tfrmexpert::EditBindings() const {
  return {
      {&WizardSettings::Mail_To, txtmail_to},
      {&WizardSettings::Mail_From, txtmail_from},
      {&WizardSettings::Mail_Subject, txtmail_subject},
      {&WizardSettings::Mail_CC, txtmail_cc},
      {&WizardSettings::Mail_BCC, txtmail_bcc},
      {&WizardSettings::Attached_File, txtattached_file},
      {&WizardSettings::Message_Text, txtmessage_text},
      {&WizardSettings::Response_Page, txtresponse_page},
      {&WizardSettings::Error_Page, txterror_page},
      {&WizardSettings::Info_Missing_Page, txtinfo_missing_page},
      {&WizardSettings::Receipt_To, txtReceipt_to},
      {&WizardSettings::Receipt_From, txtreceipt_from},
      {&WizardSettings::Receipt_Subject, txtreceipt_subject},
      {&WizardSettings::Receipt_Text, txtreceipt_text},
      {&WizardSettings::SMTP_Server, txtsmtp_server},
      {&WizardSettings::SMTP_Port, txtsmtp_port},
      {&WizardSettings::SMTP_User, txtsmtp_user},
      {&WizardSettings::SMTP_Password, txtsmtp_password},
      {&WizardSettings::Mail_Sender, txtmail_sender},
      {&WizardSettings::PoW_Key, txtpow_key},
      {&WizardSettings::Entry_Log, txtlog_file},
      {&WizardSettings::Date_Format, txtdate_format},
      {&WizardSettings::Time_Format, txttime_format},
      {&WizardSettings::Results_File, txtResults_File},
      {&WizardSettings::Results_File_Template, txtResults_File_Template},
  };
}

WizardSettings Tfrmexpert::ReadControls() const {
  WizardSettings settings;
  for (const auto& [member, edit] : EditBindings()) settings.*member = FromQString(edit->text());
  settings.Use_Asterisks = chkUse_Asterisks->isChecked();
  settings.Mail_From_Required = chkMail_From_Required->isChecked();
  settings.Delete_Results_File = chkDelete_Results_File->isChecked();
  settings.SMTP_Security = FromQString(cbosmtp_security->currentText());
  settings.SMTP_Verify = chksmtp_verify->isChecked();
  settings.PoW_Max_Number = FromQString(cbopow_max_number->currentText());
  settings.Send_Receipt = rdoSendReceipt->isChecked();
  settings.Save_Results = RDOSaveResults->isChecked();
  const QList<QListWidgetItem*> selected = LstDefault_Format->selectedItems();
  settings.DefaultFormatIndex = selected.isEmpty() ? -1 : LstDefault_Format->row(selected.front());
  return settings;
}

void Tfrmexpert::WriteControls(const WizardSettings& settings) {
  for (const auto& [member, edit] : EditBindings()) edit->setText(ToQString(settings.*member));
  chkUse_Asterisks->setChecked(settings.Use_Asterisks);
  chkMail_From_Required->setChecked(settings.Mail_From_Required);
  chkDelete_Results_File->setChecked(settings.Delete_Results_File);
  SelectSmtpSecurity(settings.SMTP_Security);
  chksmtp_verify->setChecked(settings.SMTP_Verify);
  cbopow_max_number->setCurrentText(ToQString(settings.PoW_Max_Number));
  if (settings.DefaultFormatIndex >= 0 &&
      settings.DefaultFormatIndex < LstDefault_Format->count()) {
    LstDefault_Format->setCurrentRow(settings.DefaultFormatIndex);
  } else {
    LstDefault_Format->clearSelection();
    LstDefault_Format->setCurrentRow(-1);
  }
}

void Tfrmexpert::SelectSmtpSecurity(const std::string& value) {
  // The entry the gateway reads the value as; a value it refuses stays as written (an entry of
  // its own), so that a save keeps it and the gateway goes on naming it in its error.
  int index = 0;
  switch (ParseSmtpSecurityMode(value)) {
    case TSmtpSecurityMode::kNone:
      index = 0;
      break;
    case TSmtpSecurityMode::kStartTls:
      index = 1;
      break;
    case TSmtpSecurityMode::kImplicitTls:
      index = 2;
      break;
    case TSmtpSecurityMode::kInvalid:
      index = -1;
      break;
  }
  if (index < 0) {
    index = cbosmtp_security->findText(ToQString(value), Qt::MatchExactly);
    if (index < 0) {
      cbosmtp_security->addItem(ToQString(value));
      index = cbosmtp_security->count() - 1;
    }
  }
  cbosmtp_security->setCurrentIndex(index);
}

void Tfrmexpert::OptionsToControls() {
  WizardSettings settings = SettingsFromOptions(*options_);
  LoadMailServerSettings(options_->IniFileName, settings);
  LoadPowSettings(options_->IniFileName, settings);
  WriteControls(settings);
}

void Tfrmexpert::ControlsToOptions() {
  SettingsToOptions(ReadControls(), *options_);
}

void Tfrmexpert::txtdate_formatChange() {
  lbldate->setText(ToQString(FormatDateTimeNow(FromQString(txtdate_format->text()))));
}

void Tfrmexpert::txttime_formatChange() {
  lbltime->setText(ToQString(FormatDateTimeNow(FromQString(txttime_format->text()))));
}

void Tfrmexpert::Timer1Timer() {
  txtdate_formatChange();
  txttime_formatChange();
}
