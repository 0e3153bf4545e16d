// The pages of the start and of the mail settings: pgstart, pgmailheaders, pgmailfiles,
// PgAskRcpt, pgmailreceipt and PGSMTP.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "wizard/expert_window.h"
#include "wizard/mail_server_settings.h"
#include "wizard/page_widgets.h"
#include "wizard/pow_settings.h"

namespace {

// A label that continues the caption of the radio button above it, indented to its text.
QLabel* NewContinuation(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setContentsMargins(22, 0, 0, 6);
  return label;
}

QFormLayout* NewFieldGroup(QWidget* page, QVBoxLayout* layout, const char* name,
                           const QString& title) {
  auto* group = new QGroupBox(title, page);
  group->setObjectName(name);
  auto* form = new QFormLayout(group);
  form->setLabelAlignment(Qt::AlignRight);
  layout->addWidget(group);
  return form;
}

}  // namespace

QWidget* Tfrmexpert::BuildStartPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("pgstart", &layout);
  layout->addWidget(NewHeading(page, "Label23", "Let's Get Started!", true));
  auto* group = new QGroupBox("Select Option", page);
  group->setObjectName("GroupBox1");
  auto* options = new QVBoxLayout(group);
  rdhidden = new QRadioButton("Create HTML code for the hidden fields on your", group);
  rdhidden->setObjectName("rdhidden");
  rdhidden->setChecked(true);
  options->addWidget(rdhidden);
  options->addWidget(NewContinuation(group, "Label35",
                                     "form. You will be able to paste them into your HTML file"));
  RdDefaults = new QRadioButton("Set Defaults for Brevix BX and save in brevix.ini", group);
  RdDefaults->setObjectName("RdDefaults");
  options->addWidget(RdDefaults);
  options->addSpacing(6);
  rdoTemplate = new QRadioButton("Create a Template File from an existing form", group);
  rdoTemplate->setObjectName("rdoTemplate");
  options->addWidget(rdoTemplate);
  options->addWidget(
      NewContinuation(group, "Label16", "(Primary Message, Receipt Message, or Results)"));
  layout->addWidget(group);
  AddHelpPanel(layout, "StaticText4",
               "Choose the task you want to complete and click the Next button.");
  return page;
}

QWidget* Tfrmexpert::BuildMailHeadersPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("pgmailheaders", &layout);
  QFormLayout* form = NewFieldGroup(page, layout, "GroupBox2", "Primary Message");
  txtmail_to = AddFieldRow(form, "mail_to", "txtmail_to", "Destination mail address");
  txtmail_from = AddFieldRow(form, "mail_from", "txtmail_from", "Sender's e-mail address");
  txtmail_subject = AddFieldRow(form, "mail_subject", "txtmail_subject", "Subject of e-mail");
  txtmail_cc = AddFieldRow(form, "mail_cc", "txtmail_cc", "Send carbon copy to...");
  txtmail_bcc = AddFieldRow(form, "mail_bcc", "txtmail_bcc", "Send blind carbon copy to...");
  QToolButton* browse = nullptr;
  txtattached_file =
      AddFieldRow(form, "attached_file", "txtattached_file", nullptr, "SpeedButton7", &browse);
  ConnectBrowse(browse, txtattached_file);
  txtmessage_text =
      AddFieldRow(form, "message_text", "txtmessage_text",
                  "Message Text file name (must not be a URL)", "SpeedButton1", &browse);
  ConnectBrowse(browse, txtmessage_text);
  AddHelpPanel(layout, "StaticText5",
               "Complete the values for the above hidden fields. If you prefer, you can make any "
               "of these fields into visible fields in your actual form. Hold your mouse over a "
               "field to see a better description.");
  return page;
}

QWidget* Tfrmexpert::BuildMailFilesPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("pgmailfiles", &layout);
  QFormLayout* form = NewFieldGroup(page, layout, "GroupBox3", "Display Files");
  QToolButton* browse = nullptr;
  txtresponse_page = AddFieldRow(form, "response_page", "txtresponse_page",
                                 "Reponse Page is what the user sees after the message is sent",
                                 "SpeedButton2", &browse);
  ConnectBrowse(browse, txtresponse_page);
  txterror_page =
      AddFieldRow(form, "error_page", "txterror_page",
                  "The Error Page is what the user sees if the mail cannot be sent for some reason",
                  "SpeedButton4", &browse);
  ConnectBrowse(browse, txterror_page);
  txtinfo_missing_page =
      AddFieldRow(form, "info_missing_page", "txtinfo_missing_page",
                  "The Info Missing page is displlayed if a required field is not submitted",
                  "SpeedButton6", &browse, "...");
  ConnectBrowse(browse, txtinfo_missing_page);
  AddHelpPanel(layout, "StaticText13",
               "After the message(s) have been sent, the Response Page is displayed. If there is "
               "an error, the Error Page displays. If required fields are missing, the Info "
               "Missing Page is displayed. All are HTML Files.");
  return page;
}

QWidget* Tfrmexpert::BuildAskReceiptPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("PgAskRcpt", &layout);
  layout->addWidget(NewHeading(page, "Label34", "Do you want to send a Receipt Message?", false));
  rdoSendReceipt = new QRadioButton("Yes, I also want to send a Receipt Message.", page);
  rdoSendReceipt->setObjectName("rdoSendReceipt");
  rdoSendReceipt->setChecked(true);
  RadioButton4 = new QRadioButton("No, I do not want to send a Receipt Message", page);
  RadioButton4->setObjectName("RadioButton4");
  layout->addWidget(rdoSendReceipt);
  layout->addWidget(RadioButton4);
  AddHelpPanel(layout, "StaticText11",
               "After the primary message is sent, Brevix BX can send a secondary message. Often "
               "this message is sent to the user to confirm that her request has been sent. A "
               "form cannot turn off a receipt that brevix.ini sets up (receipt_text); the "
               "hidden-field window tells you when that happens.");
  return page;
}

QWidget* Tfrmexpert::BuildMailReceiptPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("pgmailreceipt", &layout);
  QFormLayout* form = NewFieldGroup(page, layout, "GroupBox4", "Receipt Message");
  txtReceipt_to = AddFieldRow(form, "receipt_to", "txtReceipt_to",
                              "Leave blank to use value in Mail_From field");
  txtreceipt_from = AddFieldRow(form, "receipt_from", "txtreceipt_from",
                                "Leave blank to use value in Mail_To field");
  txtreceipt_subject =
      AddFieldRow(form, "receipt_subject", "txtreceipt_subject", "Subject of e-mail");
  QToolButton* browse = nullptr;
  txtreceipt_text = AddFieldRow(form, "receipt_text", "txtreceipt_text", "Text for Receipt Message",
                                "SpeedButton3", &browse);
  ConnectBrowse(browse, txtreceipt_text);
  AddHelpPanel(layout, "StaticText6",
               "By default, the To and From fields from the Primary Message are reversed to send "
               "the Receipt Message. If you want to specify different recipients, enter them "
               "here. Otherwise, just leave them blank. %field% macros in receipt_subject are "
               "filled in as in mail_subject.");
  return page;
}

QWidget* Tfrmexpert::BuildSmtpPage() {
  QVBoxLayout* layout = nullptr;
  QWidget* page = NewPage("PGSMTP", &layout);
  QFormLayout* form = NewFieldGroup(page, layout, "GroupBox7", "Mail Server Setup");
  txtsmtp_server = AddFieldRow(form, "smtp_server", "txtsmtp_server", "SMTP Server name");
  auto* port_row = new QHBoxLayout;
  txtsmtp_port = new QLineEdit(form->parentWidget());
  txtsmtp_port->setObjectName("txtsmtp_port");
  txtsmtp_port->setToolTip("SMTP Server port (usually 25)");
  txtsmtp_port->setMaximumWidth(60);
  Label28 = new QLabel(QString::fromStdString(StandardPortHint("none")), form->parentWidget());
  Label28->setObjectName("Label28");
  port_row->addWidget(txtsmtp_port);
  port_row->addWidget(Label28);
  port_row->addStretch(1);
  form->addRow("smtp_port", port_row);

  // Kept in brevix.ini alone: a form can neither read nor set the login or the sender.
  QFormLayout* login =
      NewFieldGroup(page, layout, "GroupBox8", "Saved in brevix.ini only (Set Defaults)");
  cbosmtp_security = new QComboBox(login->parentWidget());
  cbosmtp_security->setObjectName("cbosmtp_security");
  for (const char* choice : kSmtpSecurityChoices) cbosmtp_security->addItem(choice);
  cbosmtp_security->setToolTip(
      "none: plain SMTP; starttls: TLS after connecting (port 587); tls: TLS from the start "
      "(port 465)");
  login->addRow("SMTP_Security", cbosmtp_security);
  connect(cbosmtp_security, &QComboBox::currentTextChanged, this, [this](const QString& text) {
    Label28->setText(QString::fromStdString(StandardPortHint(text.toStdString())));
  });
  txtsmtp_user = AddFieldRow(login, "SMTP_User", "txtsmtp_user",
                             "Login name at the mail server; leave blank if it needs none");
  txtsmtp_password =
      AddFieldRow(login, "SMTP_Password", "txtsmtp_password", "Password of the login");
  txtsmtp_password->setEchoMode(QLineEdit::Password);
  chksmtp_verify = NewCheck(login->parentWidget(), "chksmtp_verify",
                            "Check the mail server's certificate (SMTP_Verify)");
  login->addRow("", chksmtp_verify);
  txtmail_sender = AddFieldRow(login, "Mail_Sender", "txtmail_sender",
                               "Address the mails are sent from (the visitor's own becomes "
                               "Reply-To); leave blank to send from the mail's own sender");
  // The anti-spam proof of work: a key turns it on, and the hidden fields get its widget.
  auto* pow_row = new QHBoxLayout;
  txtpow_key = new QLineEdit(login->parentWidget());
  txtpow_key->setObjectName("txtpow_key");
  txtpow_key->setToolTip("Secret that signs the anti-spam challenges; leave blank for none");
  btnpow_key = new QPushButton("New key", login->parentWidget());
  btnpow_key->setObjectName("btnpow_key");
  connect(btnpow_key, &QPushButton::clicked, this,
          [this] { txtpow_key->setText(QString::fromStdString(NewPowKey())); });
  pow_row->addWidget(txtpow_key);
  pow_row->addWidget(btnpow_key);
  login->addRow("PoW_Key", pow_row);
  cbopow_max_number = new QComboBox(login->parentWidget());
  cbopow_max_number->setObjectName("cbopow_max_number");
  cbopow_max_number->setEditable(true);
  cbopow_max_number->addItem("");
  for (const char* difficulty : kPowDifficulties) cbopow_max_number->addItem(difficulty);
  cbopow_max_number->setToolTip(
      "Difficulty: the visitor's browser tries half this number of hashes (blank: 50000, well "
      "under a second on a phone)");
  login->addRow("PoW_Max_Number", cbopow_max_number);
  AddHelpPanel(layout, "StaticText12",
               "The SMTP Server is the name of the machine that sends your mail. If you are "
               "unsure of the name, look in your E-Mail software's setup screens. You must have "
               "a server to send the mail. The login and sender are saved in brevix.ini only, "
               "never in the hidden fields; brevix.ini is saved readable by you and the web "
               "server's group only. With a login, choose starttls or tls: the gateway sends no "
               "password unencrypted to another machine.");
  return page;
}
